// velmora-xwin: looks at a top-level window from outside, as a user or a
// window manager would, on the X display named by DISPLAY.
//
//   velmora-xwin wait SECONDS            print the id of the first mapped
//                                        top-level window once there is one
//   velmora-xwin titles SECONDS REGEX    print every title a new top-level
//                                        window takes, from its creation on,
//                                        until one matches REGEX (extended
//                                        POSIX syntax)
//   velmora-xwin title WINDOW            print the window's title
//   velmora-xwin geometry WINDOW         print "x y width height", x and y on
//                                        the screen
//   velmora-xwin shot WINDOW FILE.png    save the window's pixels as RGB PNG
//   velmora-xwin close WINDOW            ask the window to close (the
//                                        WM_DELETE_WINDOW message)
//
// Exit code 0 on success, 1 on a failure or a timeout, 2 on bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <regex.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "image/png_image.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "velmora-xwin: %s\n", message.c_str());
  std::exit(1);
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: velmora-xwin wait SECONDS | titles SECONDS REGEX | title WINDOW |\n"
               "                    geometry WINDOW | shot WINDOW FILE.png | close WINDOW\n");
  std::exit(2);
}

// A window that disappears while we look at it is reported by the caller,
// not by Xlib's default handler, which would end the process.
int last_x_error = 0;
int record_x_error(Display*, XErrorEvent* event) {
  last_x_error = event->error_code;
  return 0;
}

// The one connection of a command, closed by main when the command is done.
Display* connection = nullptr;

Display* open_display() {
  connection = XOpenDisplay(nullptr);
  if (connection == nullptr) fail("cannot open the X display (is DISPLAY set?)");
  XSetErrorHandler(record_x_error);
  return connection;
}

double parse_seconds(const char* text) {
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(seconds >= 0.0)) usage();
  return seconds;
}

Window parse_window(const char* text) {
  char* end = nullptr;
  const unsigned long id = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || id == 0) usage();
  return static_cast<Window>(id);
}

std::optional<std::string> window_title(Display* display, Window window) {
  char* name = nullptr;
  last_x_error = 0;
  if (XFetchName(display, window, &name) == 0 || name == nullptr || last_x_error != 0) {
    return std::nullopt;
  }
  std::string title(name);
  XFree(name);
  return title;
}

// The children of the root window that are mapped and can be drawn on.
std::vector<Window> mapped_top_level_windows(Display* display) {
  Window root_return = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<Window> found;
  if (XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children, &count) ==
      0) {
    return found;
  }
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    last_x_error = 0;
    if (XGetWindowAttributes(display, children[i], &attributes) != 0 && last_x_error == 0 &&
        attributes.map_state == IsViewable && attributes.c_class == InputOutput) {
      found.push_back(children[i]);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

int wait_for_window(double seconds) {
  Display* display = open_display();
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const std::vector<Window> windows = mapped_top_level_windows(display);
    if (!windows.empty()) {
      std::printf("0x%lx\n", static_cast<unsigned long>(windows.front()));
      return 0;
    }
    if (Clock::now() > deadline) fail("no window appeared");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Watches the root window for new top-level windows and each of those for
// title changes.  "ready" goes to standard error once the watch is in place,
// so that a caller can start the program under watch only then.
int watch_titles(double seconds, const std::string& stop_pattern) {
  regex_t stop;
  if (regcomp(&stop, stop_pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) usage();
  struct FreeOnReturn {
    regex_t* r;
    ~FreeOnReturn() { regfree(r); }
  } free_on_return{&stop};
  Display* display = open_display();
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  std::fprintf(stderr, "ready\n");

  std::string last_title;
  auto report = [&](Display* d, Window w) {
    const std::optional<std::string> title = window_title(d, w);
    if (!title || *title == last_title) return false;
    last_title = *title;
    std::printf("%s\n", title->c_str());
    std::fflush(stdout);
    return regexec(&stop, title->c_str(), 0, nullptr, 0) == 0;
  };

  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  const int fd = ConnectionNumber(display);
  while (Clock::now() < deadline) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == CreateNotify) {
        // Select first, then read: a title set in between is not missed.
        XSelectInput(display, event.xcreatewindow.window, PropertyChangeMask);
        XSync(display, False);
        if (report(display, event.xcreatewindow.window)) return 0;
      } else if (event.type == PropertyNotify && event.xproperty.atom == XA_WM_NAME) {
        if (report(display, event.xproperty.window)) return 0;
      }
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval wait{0, 20000};
    select(fd + 1, &readable, nullptr, nullptr, &wait);
  }
  fail("timed out before a title matched '" + stop_pattern + "'");
}

int print_title(Window window) {
  Display* display = open_display();
  const std::optional<std::string> title = window_title(display, window);
  if (!title) fail("cannot read the window's title");
  std::printf("%s\n", title->c_str());
  return 0;
}

int print_geometry(Window window) {
  Display* display = open_display();
  XWindowAttributes attributes;
  int x = 0;
  int y = 0;
  Window child = 0;
  last_x_error = 0;
  if (XGetWindowAttributes(display, window, &attributes) == 0 ||
      XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child) ==
          0 ||
      last_x_error != 0) {
    fail("cannot read the window's geometry");
  }
  std::printf("%d %d %d %d\n", x, y, attributes.width, attributes.height);
  return 0;
}

// The position of a colour channel in a pixel value, from its mask.
struct Channel {
  unsigned long mask;
  int shift;
  int bits;
};

Channel channel_of(unsigned long mask) {
  Channel c{mask, 0, 0};
  while (mask != 0 && (mask & 1ul) == 0) {
    mask >>= 1;
    ++c.shift;
  }
  while ((mask & 1ul) != 0) {
    mask >>= 1;
    ++c.bits;
  }
  return c;
}

std::uint8_t channel_value(unsigned long pixel, const Channel& c) {
  const unsigned long value = (pixel & c.mask) >> c.shift;
  if (c.bits == 8) return static_cast<std::uint8_t>(value);
  const unsigned long top = (1ul << c.bits) - 1;
  return static_cast<std::uint8_t>((value * 255 + top / 2) / top);
}

int take_screenshot(Window window, const char* path) {
  Display* display = open_display();
  XWindowAttributes attributes;
  last_x_error = 0;
  if (XGetWindowAttributes(display, window, &attributes) == 0 || last_x_error != 0) {
    fail("no such window");
  }
  XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                           static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (shot == nullptr) fail("cannot read the window's pixels");
  if (attributes.visual->c_class != TrueColor && attributes.visual->c_class != DirectColor) {
    fail("only true-colour windows are supported");
  }
  const Channel red = channel_of(shot->red_mask);
  const Channel green = channel_of(shot->green_mask);
  const Channel blue = channel_of(shot->blue_mask);

  image::RgbImage picture{shot->width, shot->height, {}};
  picture.rgb.reserve(static_cast<std::size_t>(shot->width) * static_cast<std::size_t>(shot->height) * 3);
  for (int y = 0; y < shot->height; ++y) {
    for (int x = 0; x < shot->width; ++x) {
      const unsigned long pixel = XGetPixel(shot, x, y);
      picture.rgb.push_back(channel_value(pixel, red));
      picture.rgb.push_back(channel_value(pixel, green));
      picture.rgb.push_back(channel_value(pixel, blue));
    }
  }
  XDestroyImage(shot);
  try {
    image::write_png_file(path, picture);
  } catch (const std::exception& e) {
    fail(e.what());
  }
  return 0;
}

int close_window(Window window) {
  Display* display = open_display();
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XEvent event;
  std::memset(&event, 0, sizeof(event));
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(delete_window);
  event.xclient.data.l[1] = CurrentTime;
  last_x_error = 0;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  if (last_x_error != 0) fail("cannot send the close request to the window");
  return 0;
}

int run(int argc, char** argv) {
  if (argc < 3) usage();
  const std::string command = argv[1];
  if (command == "wait" && argc == 3) return wait_for_window(parse_seconds(argv[2]));
  if (command == "titles" && argc == 4) return watch_titles(parse_seconds(argv[2]), argv[3]);
  if (command == "title" && argc == 3) return print_title(parse_window(argv[2]));
  if (command == "geometry" && argc == 3) return print_geometry(parse_window(argv[2]));
  if (command == "shot" && argc == 4) return take_screenshot(parse_window(argv[2]), argv[3]);
  if (command == "close" && argc == 3) return close_window(parse_window(argv[2]));
  usage();
}

}  // namespace

int main(int argc, char** argv) {
  const int rc = run(argc, argv);
  if (connection != nullptr) XCloseDisplay(connection);
  return rc;
}
