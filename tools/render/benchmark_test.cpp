#include "tools/render/benchmark.h"

#include <gtest/gtest.h>

namespace render_tool {
namespace {

// A wall clock that moves only when a frame is rendered: 1/64 s a frame, a
// step that sums exactly in binary.
double fake_now_s = 0.0;
double fake_clock() { return fake_now_s; }

// Reports fixed times and remembers the clock of every frame (read back from
// sphere 3, whose height is 0.5 + 0.5 cos t).
class FixedTimeRenderer : public FrameRenderer {
 public:
  FrameTiming render(const SceneContent& scene, std::span<std::uint32_t>) override {
    heights.push_back(scene.spheres[3].center.y);
    ++calls;
    fake_now_s += 1.0 / 64.0;
    return FrameTiming{0.25, 2.0 + (calls % 2), 0.5};  // kernel alternates 2 and 3 ms
  }
  int calls = 0;
  std::vector<float> heights;
};

TEST(Benchmark, WarmUpIsLeftOutAndTheAnimationRunsOn) {
  FixedTimeRenderer renderer;
  // No time asked for: the least number of frames of each phase.
  const BenchResult r = measure_in_turns(renderer, BenchPlan{0.0, 60.0f, 0.0, fake_clock}, 1, [](int) {}).front();

  EXPECT_EQ(r.warmup_frames, kWarmupFrames);
  EXPECT_EQ(r.frames, kMinTimedFrames);
  EXPECT_EQ(r.warmup_frames + r.frames, renderer.calls);
  // Five timed frames of 1/64 s each on the fake clock.
  EXPECT_EQ(r.elapsed_s, 5.0 / 64.0);
  EXPECT_EQ(r.fps, 64.0);

  EXPECT_DOUBLE_EQ(r.upload_ms.median, 0.25);
  EXPECT_DOUBLE_EQ(r.readback_ms.p95, 0.5);
  // Calls 4 to 8 are timed: kernel 2, 3, 2, 3, 2 ms.
  EXPECT_DOUBLE_EQ(r.kernel_ms.median, 2.0);
  EXPECT_DOUBLE_EQ(r.kernel_ms.p5, 2.0);
  EXPECT_DOUBLE_EQ(r.kernel_ms.p95, 3.0);
  EXPECT_DOUBLE_EQ(r.frame_ms.median, r.upload_ms.median + r.kernel_ms.median + r.readback_ms.median);

  // One clock through warm-up and timed frames: the frames are the
  // animation's, in order, from its first frame on.
  const std::vector<float> clocks = animation_clocks(renderer.calls, 60.0f);
  for (int i = 0; i < renderer.calls; ++i) {
    EXPECT_EQ(renderer.heights[static_cast<std::size_t>(i)],
              scene_at_clock(clocks[static_cast<std::size_t>(i)]).spheres[3].center.y)
        << "frame " << i;
  }
}

// Several configurations take turns: each is switched to before its warm-up
// and before each of its turns, each renders the animation's clocks in order
// from the first, and none has its figures mixed with another's.
TEST(Benchmark, ConfigurationsTakeTurnsWithTheirOwnClocksAndFigures) {
  struct TurnRecorder : FrameRenderer {
    FrameTiming render(const SceneContent& scene, std::span<std::uint32_t>) override {
      heights[static_cast<std::size_t>(current)].push_back(scene.spheres[3].center.y);
      return FrameTiming{0.0, 1.0 + current, 0.0};  // configuration i takes 1 + i ms
    }
    int current = -1;
    std::vector<int> switches;
    std::vector<std::vector<float>> heights = std::vector<std::vector<float>>(3);
  } renderer;

  const std::vector<BenchResult> results =
      measure_in_turns(renderer, BenchPlan{0.0, 30.0f, 0.0}, 3, [&](int i) {
        renderer.current = i;
        renderer.switches.push_back(i);
      });

  ASSERT_EQ(results.size(), 3u);
  // One switch for each warm-up, then one for each turn, in round order.
  ASSERT_GE(renderer.switches.size(), 6u);
  for (std::size_t k = 0; k < renderer.switches.size(); ++k) {
    EXPECT_EQ(renderer.switches[k], static_cast<int>(k % 3)) << "switch " << k;
  }
  for (int i = 0; i < 3; ++i) {
    const BenchResult& r = results[static_cast<std::size_t>(i)];
    EXPECT_EQ(r.warmup_frames, kWarmupFrames + 1);  // and the frame after its one switch
    EXPECT_EQ(r.frames, kMinTimedFrames);
    EXPECT_DOUBLE_EQ(r.kernel_ms.p5, 1.0 + i);
    EXPECT_DOUBLE_EQ(r.kernel_ms.p95, 1.0 + i);
    const std::vector<float>& seen = renderer.heights[static_cast<std::size_t>(i)];
    const std::vector<float> clocks = animation_clocks(static_cast<int>(seen.size()), 30.0f);
    for (std::size_t k = 0; k < seen.size(); ++k) {
      EXPECT_EQ(seen[k], scene_at_clock(clocks[k]).spheres[3].center.y) << "configuration " << i << " frame " << k;
    }
  }
}

TEST(Benchmark, WarmUpScalesWithTheRunWithinBounds) {
  EXPECT_DOUBLE_EQ(warmup_seconds(5.0), 1.0);
  EXPECT_DOUBLE_EQ(warmup_seconds(2.0), 0.4);
  EXPECT_DOUBLE_EQ(warmup_seconds(0.01), 0.05);
  EXPECT_DOUBLE_EQ(warmup_seconds(600.0), 1.0);
}

}  // namespace
}  // namespace render_tool
