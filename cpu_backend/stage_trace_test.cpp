#include "cpu_backend/stage_trace.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/host_scene.h"
#include "scene/animation.h"
#include "scene/initial_scene_data.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

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

class StageTrace : public ::testing::Test {
 protected:
  StageTrace() {
    write_initial_spheres(spheres_);
    write_initial_materials(materials_);
    scene_.set_spheres(spheres_, kInitialSphereCount);
    scene_.set_materials(materials_, kInitialMaterialCount);
    scene_.light_position = initial_light_position();
  }
  void pose_at(float clock) {
    place_animated_spheres(spheres_, clock);
    scene_.set_spheres(spheres_, kInitialSphereCount);
  }
  std::vector<std::uint32_t> scalar_frame() const {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    trace_frame_scalar(scene_.view(), kWidth, kHeight, pixels.data());
    return pixels;
  }

  Sphere spheres_[kInitialSphereCount];
  Material materials_[kInitialMaterialCount];
  HostScene scene_;
};

// The launch's 8 x 8 blocks, and shapes that leave partial sub-tiles and
// partial packs (5 x 3), or need several batches of rays (16 x 16).
TEST_F(StageTrace, InitialSceneMatchesScalarForEveryBlockShape) {
  const std::vector<std::uint32_t> want = scalar_frame();
  struct Shape {
    int w, h;
  };
  for (const Shape s : {Shape{8, 8}, Shape{5, 3}, Shape{16, 16}, Shape{1, 1}}) {
    EXPECT_EQ(differing_words(frame_in_stages(scene_.view(), s.w, s.h), want), 0)
        << "blocks of " << s.w << " x " << s.h;
  }
}

// Over one period of the animation (2 pi in the clock), every frame traced
// stage by stage at this build's width equals the scalar frame.
TEST_F(StageTrace, MatchesScalarOverAnAnimationPeriod) {
  constexpr int kClocks = 64;
  for (int k = 0; k < kClocks; ++k) {
    const float clock = 1.0f + 6.2831853f * static_cast<float>(k) / kClocks;
    pose_at(clock);
    EXPECT_EQ(differing_words(frame_in_stages(scene_.view(), 8, 8), scalar_frame()), 0) << "clock " << clock;
  }
}

}  // namespace
