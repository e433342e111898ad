// velmora-frame-match SHOT.png: does a screenshot of the window show a frame
// of the scene?
//
// The spheres move, so no single reference frame fits every screenshot.  The
// positions of the moving spheres depend on the animation clock only through
// its sine and cosine, so the tool searches one period of the clock for the
// host-rendered frame that best matches the screenshot: a coarse scan on a
// sparse grid of pixels, two finer scans around the best clock, and then a
// comparison of every pixel at the clock found.
//
// The picture is taken from the lower-left 640 x 480 pixels of the
// screenshot, where the program draws it; row 0 of the frame is the bottom
// row.  Prints the clock and the match, and exits 0 only when the match is
// near-exact: at most kMaxMismatched pixels differ by more than
// kChannelTolerance in some channel.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <thread>
#include <vector>

#include "image/png_image.h"
#include "kernel/host_scene.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

constexpr int kWidth = kFrameWidth;
constexpr int kHeight = kFrameHeight;
constexpr int kChannelTolerance = 2;
constexpr int kMaxMismatched = 200;  // of 307,200 pixels

// The screenshot's lower-left 640 x 480 pixels as frame words (red in the
// low byte), row 0 at the bottom.
std::vector<std::uint32_t> load_picture(const char* path) {
  image::RgbImage shot;
  try {
    shot = image::read_png_file(path);
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "velmora-frame-match: %s\n", e.what());
    std::exit(2);
  }
  if (shot.width < kWidth || shot.height < kHeight) {
    std::fprintf(stderr, "velmora-frame-match: %s is %d x %d, smaller than the frame\n", path, shot.width,
                 shot.height);
    std::exit(2);
  }
  return image::frame_of_picture(shot, kWidth, kHeight);
}

int channel_difference(std::uint32_t a, std::uint32_t b) {
  int largest = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int da = static_cast<int>((a >> shift) & 0xffu);
    const int db = static_cast<int>((b >> shift) & 0xffu);
    largest = std::max(largest, std::abs(da - db));
  }
  return largest;
}

// Sum over every step-th pixel in x and y of the largest channel difference.
long sparse_error(float t, const std::vector<std::uint32_t>& picture, int step) {
  const HostScene scene(scene_at_clock(t));
  const SceneView view = scene.view();
  long error = 0;
  for (int y = step / 2; y < kHeight; y += step) {
    for (int x = step / 2; x < kWidth; x += step) {
      const std::uint32_t traced = trace_pixel<float>(view, x, y, kWidth, kHeight);
      error += channel_difference(traced, picture[static_cast<std::size_t>(y) * kWidth + x]);
    }
  }
  return error;
}

// The clock among `count` evenly spaced ones from `first` with the smallest
// sparse error; the two cores each take half of the clocks.
float best_clock(const std::vector<std::uint32_t>& picture, double first, double spacing,
                 int count, int step) {
  std::vector<long> errors(static_cast<std::size_t>(count));
  auto scan = [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      errors[static_cast<std::size_t>(i)] =
          sparse_error(static_cast<float>(first + spacing * i), picture, step);
    }
  };
  const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w) {
    threads.emplace_back(scan, static_cast<int>(count * w / workers),
                         static_cast<int>(count * (w + 1) / workers));
  }
  for (std::thread& thread : threads) thread.join();
  const auto best = std::min_element(errors.begin(), errors.end()) - errors.begin();
  return static_cast<float>(first + spacing * static_cast<double>(best));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-frame-match SHOT.png\n");
    return 2;
  }
  const std::vector<std::uint32_t> picture = load_picture(argv[1]);

  const double period = 2.0 * std::numbers::pi;
  float t = best_clock(picture, 0.0, period / 1200, 1200, 8);
  t = best_clock(picture, t - period / 1200, period / 1200 / 25, 51, 4);
  t = best_clock(picture, t - period / 1200 / 25, period / 1200 / 25 / 50, 101, 2);

  const HostScene scene(scene_at_clock(t));
  std::vector<std::uint32_t> frame(picture.size());
  trace_frame_scalar(scene.view(), kWidth, kHeight, frame.data());
  int mismatched = 0;
  int largest = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    const int difference = channel_difference(frame[i], picture[i]);
    largest = std::max(largest, difference);
    if (difference > kChannelTolerance) ++mismatched;
  }
  const bool matches = mismatched <= kMaxMismatched;
  std::printf("clock %.6f (mod 2 pi): %d of %zu pixels differ by more than %d, largest %d: %s\n",
              static_cast<double>(t), mismatched, frame.size(), kChannelTolerance, largest,
              matches ? "match" : "NO MATCH");
  return matches ? 0 : 1;
}
