#include "reference/reference_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/backend_controls.h"
#include "rtlib/rtlib.h"
#include "kernel/ray_trace.h"
#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

using reference::compare_frames;
using reference::FrameComparison;
using reference::reference_frame;

std::string pixel_text(std::uint32_t word) {
  std::ostringstream text;
  text << "(" << (word & 0xffu) << ", " << ((word >> 8) & 0xffu) << ", " << ((word >> 16) & 0xffu) << ")";
  return text.str();
}

// Frames of the CPU back-end, made through the host layer as the viewer
// makes them: uploads, launch, read-back.  The kernel's constant stores are
// given back as the test found them.
class TraceAgainstReference : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(saved_materials_, materials_dump, sizeof(saved_materials_));
    std::memcpy(saved_lights_, point_lights_dump, sizeof(saved_lights_));
  }
  void TearDown() override {
    if (width_ != 0) gpu_release();
    set_backend_kernel("simd");
    std::memcpy(materials_dump, saved_materials_, sizeof(saved_materials_));
    std::memcpy(point_lights_dump, saved_lights_, sizeof(saved_lights_));
  }

  std::vector<std::uint32_t> render(const SceneRecords& scene, int width, int height) {
    if (width != width_ || height != height_) {
      if (width_ != 0) gpu_release();
      gpu_init(width, height);
      width_ = width;
      height_ = height;
    }
    upload_scene(scene);
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    LaunchTimes times{};
    EXPECT_EQ(render_frame_timed(frame.data(), &times), 0);
    return frame;
  }

  // The back-end's frame of `scene` against the reference frame, with the
  // counts in the message either way.
  ::testing::AssertionResult matches_reference(const SceneRecords& scene, int width, int height) {
    const std::vector<std::uint32_t> frame = render(scene, width, height);
    const std::vector<std::uint32_t> want = reference_frame(scene, width, height);
    const FrameComparison c = compare_frames(frame, want);
    const std::size_t at = c.largest_at;
    ::testing::AssertionResult result =
        c.matches() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.4f%%", 100.0 * c.differing_fraction());
    return result << c.differing << " of " << c.pixels << " pixels (" << percent << ") differ by more than "
                  << reference::kChannelTolerance << " in a channel, at most "
                  << c.allowed() << " may; largest channel difference " << c.largest_difference
                  << ", at (" << at % static_cast<std::size_t>(width) << ", "
                  << at / static_cast<std::size_t>(width) << "): " << pixel_text(frame[at])
                  << " instead of " << pixel_text(want[at]);
  }

 private:
  int width_ = 0;
  int height_ = 0;
  unsigned char saved_materials_[kMaterialStoreBytes];
  unsigned char saved_lights_[kLightStoreBytes];
};

// The initial scene on each of the CPU back-end's kernels.
TEST_F(TraceAgainstReference, InitialSceneOnEveryKernel) {
  for (const KernelChoice& kernel : backend_kernels()) {
    ASSERT_TRUE(set_backend_kernel(kernel.name));
    EXPECT_TRUE(matches_reference(initial_scene(), kFrameWidth, kFrameHeight)) << kernel.name << " kernel";
  }
}

// One period of the animation: the green sphere passes behind the red one
// and in front of it, the glass sphere sinks into the floor and rises.
TEST_F(TraceAgainstReference, AnimationPeriod) {
  constexpr int kClocks = 16;
  for (int k = 0; k < kClocks; ++k) {
    const float clock = kStartClock + 6.2831853f * static_cast<float>(k) / kClocks;
    EXPECT_TRUE(matches_reference(scene_at_clock(clock), kFrameWidth, kFrameHeight)) << "clock " << clock;
  }
}

// Other frame sizes: another aspect ratio moves every camera ray, and a
// larger frame has more pixels on every edge.
TEST_F(TraceAgainstReference, OtherSizes) {
  struct Case {
    int width, height;
  };
  const Case cases[] = {{160, 120}, {328, 200}, {200, 640}, {1280, 960}};
  for (const Case& c : cases) {
    for (const float clock : {kStartClock, 3.5f}) {
      EXPECT_TRUE(matches_reference(scene_at_clock(clock), c.width, c.height))
          << c.width << " x " << c.height << ", clock " << clock;
    }
  }
}

// The reference by itself, at pixels whose colours are known for the
// initial scene: it is an oracle only if it is right on its own.
TEST(ReferenceFrame, KnownPixelsOfTheInitialScene) {
  struct Case {
    int x, y;
    unsigned r, g, b;
  };
  const Case cases[] = {
      {320, 240, 10, 10, 10},  // through the glass sphere
      {100, 400, 52, 0, 0},    // red sphere, near its top
      {160, 300, 60, 49, 49},  // red sphere
      {480, 300, 20, 48, 20},  // green sphere
      {320, 60, 70, 70, 70},   // floor
      {320, 100, 0, 0, 0},     // floor in the glass sphere's shadow
  };
  const SceneRecords scene = initial_scene();
  for (const Case& c : cases) {
    const std::uint32_t want = c.r | c.g << 8 | c.b << 16 | 0xff000000u;
    EXPECT_EQ(pixel_text(reference::reference_pixel(scene, c.x, c.y, kFrameWidth, kFrameHeight)),
              pixel_text(want))
        << "pixel (" << c.x << ", " << c.y << ")";
  }
}

// What counts as differing: a red, green or blue byte off by more than
// one; alpha never counts.
TEST(ReferenceFrame, ComparisonCountsPixelsOffByMoreThanOneInAChannel) {
  const std::uint32_t base = 0xff406080u;  // red 0x80, green 0x60, blue 0x40
  struct Case {
    const char* what;
    std::uint32_t word;
    bool differs;
    int difference;
  };
  const Case cases[] = {
      {"the same word", base, false, 0},
      {"red one up", base + 0x1u, false, 1},
      {"green one down", base - 0x100u, false, 1},
      {"blue two up", base + 0x20000u, true, 2},
      {"red two down", base - 0x2u, true, 2},
      {"alpha changed", base & 0x00ffffffu, false, 0},
      {"black", 0xff000000u, true, 0x80},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint32_t> want(4, base);
    std::vector<std::uint32_t> got = want;
    got[2] = c.word;
    const FrameComparison result = compare_frames(got, want);
    EXPECT_EQ(result.differing, c.differs ? 1u : 0u) << c.what;
    EXPECT_EQ(result.largest_difference, c.difference) << c.what;
    if (c.difference > 0) {
      EXPECT_EQ(result.largest_at, 2u) << c.what;
    }
  }
  EXPECT_THROW(compare_frames(std::vector<std::uint32_t>(3), std::vector<std::uint32_t>(4)),
               std::invalid_argument);
}

// The bound is a fraction of the frame: a frame of 10,000 pixels may have
// kMaxDifferingFraction of them differ, and one more fails.
TEST(ReferenceFrame, BoundIsAFractionOfTheFrame) {
  constexpr std::size_t kPixels = 10'000;
  const auto allowed = static_cast<std::size_t>(reference::kMaxDifferingFraction * kPixels);
  ASSERT_GT(allowed, 0u);
  const std::vector<std::uint32_t> want(kPixels, 0xff000000u);
  std::vector<std::uint32_t> got = want;
  for (std::size_t i = 0; i < allowed; ++i) got[i * 7] = 0xff0000ffu;
  EXPECT_TRUE(compare_frames(got, want).matches());
  got[kPixels - 1] = 0xff0000ffu;
  const FrameComparison over = compare_frames(got, want);
  EXPECT_EQ(over.differing, allowed + 1);
  EXPECT_FALSE(over.matches());
}

}  // namespace
