#include "cpu_backend/stage_trace.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/host_scene.h"
#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

constexpr int kWidth = kFrameWidth;
constexpr int kHeight = kFrameHeight;

// The frame traced stage by stage in blocks of block_w x block_h (the last
// column and row of blocks cut short where the frame ends).
std::vector<std::uint32_t> frame_in_stages(const SceneView& scene, int block_w, int block_h) {
  using Pack = lanes::NativePack;
  constexpr int kLanes = lanes::LaneTypes<Pack>::width;
  constexpr int kTileW = kLanes >= 8 ? 4 : 2;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight, 0xdeadbeefu);
  for (int by = 0; by < kHeight; by += block_h) {
    for (int bx = 0; bx < kWidth; bx += block_w) {
      stage_trace::trace_block_in_stages<Pack>(scene, pixels.data(), kWidth, kHeight, bx, by,
                                               std::min(block_w, kWidth - bx), std::min(block_h, kHeight - by),
                                               kTileW, kLanes / kTileW);
    }
  }
  return pixels;
}

int differing_words(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int n = 0;
  for (std::size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
  return n;
}

std::vector<std::uint32_t> scalar_frame(const HostScene& scene) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
  trace_frame_scalar(scene.view(), kWidth, kHeight, pixels.data());
  return pixels;
}

// The launch's 8 x 8 blocks, and shapes that leave partial sub-tiles and
// partial packs (5 x 3), or need several batches of rays (16 x 16).
TEST(StageTrace, InitialSceneMatchesScalarForEveryBlockShape) {
  const HostScene scene(initial_scene());
  const std::vector<std::uint32_t> want = scalar_frame(scene);
  struct Shape {
    int w, h;
  };
  for (const Shape s : {Shape{8, 8}, Shape{5, 3}, Shape{16, 16}, Shape{1, 1}}) {
    EXPECT_EQ(differing_words(frame_in_stages(scene.view(), s.w, s.h), want), 0)
        << "blocks of " << s.w << " x " << s.h;
  }
}

// Over one period of the animation (2 pi in the clock), every frame traced
// stage by stage at this build's width equals the scalar frame.
TEST(StageTrace, MatchesScalarOverAnAnimationPeriod) {
  constexpr int kClocks = 64;
  for (int k = 0; k < kClocks; ++k) {
    const float clock = 1.0f + 6.2831853f * static_cast<float>(k) / kClocks;
    const HostScene scene(scene_at_clock(clock));
    EXPECT_EQ(differing_words(frame_in_stages(scene.view(), 8, 8), scalar_frame(scene)), 0) << "clock " << clock;
  }
}

}  // namespace
