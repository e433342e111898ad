#include "tools/render/animation_export.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/render/frame_image.h"
#include "tools/render/interrupt_cleanup.h"
#include "tools/render/output_file.h"

namespace render_tool {
namespace {

int name_digits(int frames) {
  const int last = frames > 0 ? frames - 1 : 0;
  return std::max(4, static_cast<int>(std::to_string(last).size()));
}

}  // namespace

std::string frame_file_name(int index, int frames) {
  std::string number = std::to_string(index);
  const std::size_t digits = static_cast<std::size_t>(name_digits(frames));
  if (number.size() < digits) number.insert(0, digits - number.size(), '0');
  return "frame_" + number + ".png";
}

std::string frame_file_pattern(int frames) {
  return "frame_%0" + std::to_string(name_digits(frames)) + "d.png";
}

void make_frames_folder(const std::string& out_dir) {
  std::error_code error;
  std::filesystem::create_directories(out_dir, error);
  if (std::filesystem::is_directory(out_dir)) return;
  const std::string reason = error ? error.message() : "it is not a folder";
  throw OutputError("cannot create the folder '" + out_dir + "': " + reason);
}

std::vector<std::string> export_animation(FrameRenderer& renderer, int frames, float rate,
                                          const std::string& out_dir,
                                          const std::function<void(int)>& on_frame) {
  make_frames_folder(out_dir);

  const FrameSize size = renderer.size();
  std::vector<std::uint32_t> pixels(size.pixel_count());
  std::vector<std::string> written;
  const std::vector<float> clocks = animation_clocks(frames, rate);
  for (int i = 0; i < frames; ++i) {
    renderer.render(scene_at_clock(clocks[static_cast<std::size_t>(i)]), pixels);
    const std::string path = (std::filesystem::path(out_dir) / frame_file_name(i, frames)).string();
    write_files_atomically({{path, encode_png(pixels, size.width, size.height)}});
    written.push_back(path);
    if (on_frame) on_frame(i + 1);
  }
  return written;
}

namespace {

// Which signals the encoder starts with at their defaults (ours are caught
// to clean up, and SIGPIPE may be ignored by whoever started us).
posix_spawnattr_t encoder_attributes() {
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  return attr;
}

// Starts ffmpeg (found on the PATH) with `args`, remembered as the child an
// interrupt must stop, and waits for it.  Returns the wait status, or throws
// with the reason it could not start.
int run_ffmpeg(std::vector<std::string> args, posix_spawn_file_actions_t& actions, const std::string& video_name) {
  args.insert(args.begin(), "ffmpeg");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr = encoder_attributes();
  std::fflush(nullptr);

  // Started and remembered with the interrupts held back, so that no
  // interrupt can fall between the two and leave it running.
  pid_t pid = 0;
  int spawn_error = 0;
  {
    UninterruptedStep step;
    spawn_error = ::posix_spawnp(&pid, "ffmpeg", &actions, &attr, argv.data(), environ);
    if (spawn_error == 0) remember_child(pid);
  }
  posix_spawnattr_destroy(&attr);
  if (spawn_error != 0) {
    throw OutputError("cannot write '" + video_name + "': cannot run ffmpeg: " + std::strerror(spawn_error));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) break;
  }
  // An interrupt kills the encoder before it ends the program; its end is
  // then no failure to report.
  wait_if_interrupted();
  remember_child(0);
  return status;
}

std::uint64_t big_endian(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

// ffmpeg reads '%' in an input name as the start of a frame-number pattern;
// "%%" is a plain '%'.
std::string escaped_for_pattern(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

}  // namespace

bool ffmpeg_can_run() {
  // What it prints (a few lines) goes into a pipe that is never read.
  int sink[2];
  if (::pipe2(sink, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sink[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, sink[1], STDERR_FILENO);
  bool ran = false;
  try {
    const int status = run_ffmpeg({"-hide_banner", "-version"}, actions, "");
    ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  } catch (const OutputError&) {
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(sink[0]);
  ::close(sink[1]);
  return ran;
}

VideoDestination prepare_video(const std::string& video_name, const std::string& out_dir, int frames) {
  OutputTarget target = examine_output(video_name);
  if (!target.in_place) {
    // The video must not be one of the frames it is made from.
    std::error_code ignored;
    const auto folder = std::filesystem::weakly_canonical(std::filesystem::absolute(out_dir), ignored);
    const auto video = std::filesystem::weakly_canonical(std::filesystem::absolute(target.path), ignored);
    const std::string file = video.filename().string();
    const std::string digits = file.size() > 10 ? file.substr(6, file.size() - 10) : "";
    const bool numbered = !digits.empty() && digits.size() <= 7 &&
                          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (video.parent_path() == folder && numbered && std::stoi(digits) < frames &&
        file == frame_file_name(std::stoi(digits), frames)) {
      throw RepeatedOutputError("'" + video_name + "' is one of the frames; name the video elsewhere");
    }
    const std::string beside = std::filesystem::path(target.path).parent_path().string();
    OwnedTemporary temporary(beside, video_name);
    return {std::move(target), std::move(temporary)};
  }
  OwnedTemporary temporary(out_dir, video_name);
  return {std::move(target), std::move(temporary)};
}

bool mp4_is_complete(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  bool header = false, media = false, index = false;
  std::uint64_t at = 0;
  while (at < size) {
    unsigned char head[16];
    if (size - at < 8 || ::pread(fd, head, 16, static_cast<off_t>(at)) < 8) return false;
    std::uint64_t box = big_endian(head, 4);
    if (box == 1) {
      if (size - at < 16) return false;
      box = big_endian(head + 8, 8);
    } else if (box == 0) {
      box = size - at;
    }
    if (box < 8 || box > size - at) return false;
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    header = header || type == "ftyp";
    media = media || type == "mdat";
    index = index || type == "moov";
    at += box;
  }
  return header && media && index;
}

void encode_video(const std::string& out_dir, int frames, float rate, VideoDestination& video) {
  const std::string& name = video.target.name;
  char rate_text[32];
  const auto rate_end = std::to_chars(rate_text, rate_text + sizeof rate_text, rate);

  // Neither path can be read as an option, a protocol or a pattern: the
  // frames are named "file:<absolute folder, '%' doubled>/frame_%04d.png",
  // and the video is the temporary we created, handed over as descriptor 3
  // and named through /proc (no name in the shared folder is opened again).
  const std::string folder = std::filesystem::absolute(out_dir).lexically_normal().string();
  const std::string input = "file:" + escaped_for_pattern(folder) + "/" + frame_file_pattern(frames);
  const int handed = ::fcntl(video.temporary.fd(), F_DUPFD_CLOEXEC, 10);
  if (handed < 0) throw OutputError("cannot write '" + name + "': " + std::strerror(errno));

  // yuv420p is the pixel format every player can decode; the container is
  // named because the output's name says nothing about it.  -xerror makes
  // any error, such as a failed write, end ffmpeg with a failure status.
  // clang-format off
  const std::vector<std::string> args = {
      "-hide_banner", "-loglevel", "error", "-xerror", "-nostdin", "-y",
      "-framerate", std::string(rate_text, rate_end.ptr), "-start_number", "0", "-i", input,
      "-frames:v", std::to_string(frames), "-pix_fmt", "yuv420p", "-f", "mp4", "file:/proc/self/fd/3"};
  // clang-format on

  // ffmpeg's own messages go to standard error; standard output stays ours.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, handed, 3);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  int status = 0;
  try {
    status = run_ffmpeg(args, actions, name);
  } catch (...) {
    posix_spawn_file_actions_destroy(&actions);
    ::close(handed);
    throw;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(handed);

  const std::string frames_note = "; the frames are in '" + out_dir + "'";
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    const std::string how =
        WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status)) : "killed by a signal";
    throw OutputError("cannot write '" + name + "': ffmpeg failed (" + how + ")" + frames_note);
  }
  if (!mp4_is_complete(video.temporary.fd())) {
    throw OutputError("cannot write '" + name + "': ffmpeg left an incomplete file (is the disk full?)" +
                      frames_note);
  }
  if (video.target.in_place) {
    copy_in_place(video.target, video.temporary.fd());
  } else {
    video.temporary.rename_to(video.target.path);
  }
}

}  // namespace render_tool
