#include "kernel/trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel/host_scene.h"
#include "lanes/simd_lanes.h"
#include "scene/initial_scene_data.h"

namespace {

// The scene as start-up builds it, before any animation step.
HostScene initial_scene() {
  static Sphere spheres[kInitialSphereCount];
  static Material materials[kInitialMaterialCount];
  write_initial_spheres(spheres);
  write_initial_materials(materials);
  HostScene scene;
  scene.set_spheres(spheres, kInitialSphereCount);
  scene.set_materials(materials, kInitialMaterialCount);
  scene.light_position = initial_light_position();
  return scene;
}

struct Rgb {
  unsigned r, g, b;
  bool operator==(const Rgb&) const = default;
};

Rgb rgb_of(std::uint32_t word) { return {word & 0xffu, (word >> 8) & 0xffu, (word >> 16) & 0xffu}; }

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

TEST(TracePixel, InitialSceneProbePixels) {
  const HostScene scene = initial_scene();
  struct Case {
    int x, y;
    Rgb expected;
  };
  const Case cases[] = {
      {320, 240, {10, 10, 10}},  // through the transparent sphere
      {100, 400, {52, 0, 0}},    //
      {160, 300, {60, 49, 49}},  // red sphere
      {480, 300, {20, 48, 20}},  // green sphere
      {320, 60, {70, 70, 70}},   // floor
      {320, 100, {0, 0, 0}},     // floor, in the transparent sphere's shadow
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rgb_of(trace_pixel<float>(scene.view(), c.x, c.y, 640, 480)), c.expected)
        << "pixel (" << c.x << ", " << c.y << ")";
  }
}

}  // namespace

namespace {

// Traces a whole frame with packs of Float lanes, each pack a run of
// consecutive pixels of one row.
template <class Float>
std::vector<std::uint32_t> trace_frame_in_rows_of_packs(const SceneView& scene, int width,
                                                        int height) {
  using Int = lanes::Int<Float>;
  constexpr int kWidth = lanes::LaneTypes<Float>::width;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x0 = 0; x0 < width; x0 += kWidth) {
      const Int x([&](auto i) { return x0 + static_cast<int>(i); });
      const auto words = trace_pixel<Float>(scene, x, Int(y), width, height);
      for (int i = 0; i < kWidth && x0 + i < width; ++i) pixels[y * width + x0 + i] = words[i];
    }
  }
  return pixels;
}

template <class Float>
class PackedTrace : public ::testing::Test {};

using PackTypes = ::testing::Types<lanes::Pack<4>, lanes::NativePack>;
TYPED_TEST_SUITE(PackedTrace, PackTypes);

TYPED_TEST(PackedTrace, MatchesScalarWordForWord) {
  const HostScene scene = initial_scene();
  const int width = 640, height = 480;
  std::vector<std::uint32_t> scalar(static_cast<std::size_t>(width) * height);
  trace_frame_scalar(scene.view(), width, height, scalar.data());
  const auto packed = trace_frame_in_rows_of_packs<TypeParam>(scene.view(), width, height);
  int differing = 0;
  for (std::size_t i = 0; i < scalar.size(); ++i) differing += scalar[i] != packed[i];
  EXPECT_EQ(differing, 0);
}

}  // namespace
