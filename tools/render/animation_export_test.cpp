#include "tools/render/animation_export.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "image/png_image.h"
#include "scene/animation.h"
#include "outputs/output_error.h"
#include "test_support/scratch_dir.h"

namespace render_tool {
namespace {

using outputs::ScratchDir;

// Remembers the scenes it was given and fills each frame with one colour
// that tells the frames apart.
class RecordingRenderer : public FrameRenderer {
 public:
  FrameTiming render(const SceneContent& scene, std::span<std::uint32_t> pixels) override {
    scenes.push_back(scene);
    const std::uint32_t shade = static_cast<std::uint32_t>(scenes.size()) * 40u;
    std::fill(pixels.begin(), pixels.end(), 0xff000000u | shade);
    return {};
  }
  std::vector<SceneContent> scenes;
};

std::uint8_t first_red_of_png(const std::string& path) { return image::read_png_file(path).rgb.at(0); }

TEST(AnimationExport, FileNamesSortInFrameOrder) {
  struct Case {
    int index, frames;
    std::string name;
  };
  const Case cases[] = {
      {0, 1, "frame_0000.png"},      {7, 10, "frame_0007.png"},         {9999, 10000, "frame_9999.png"},
      {5, 10001, "frame_00005.png"}, {10000, 10001, "frame_10000.png"},
  };
  for (const Case& c : cases) EXPECT_EQ(frame_file_name(c.index, c.frames), c.name);
  EXPECT_EQ(frame_file_pattern(60), "frame_%04d.png");
  EXPECT_EQ(frame_file_pattern(123456), "frame_%06d.png");
}

TEST(AnimationExport, WritesOneFileperFrameAtTheAnimationClocks) {
  ScratchDir dir;
  RecordingRenderer renderer;
  std::vector<int> progress;
  const std::string out = dir / "frames";
  std::filesystem::create_directories(out);
  export_animation(renderer, 3, 30.0f, std::make_shared<const outputs::Folder>(out, out),
                   [&](int done) { progress.push_back(done); });

  EXPECT_EQ(progress, (std::vector<int>{1, 2, 3}));
  const std::vector<float> clocks = animation_clocks(3, 30.0f);
  for (int i = 0; i < 3; ++i) {
    const Sphere& moving = renderer.scenes[static_cast<std::size_t>(i)].spheres[1];
    EXPECT_EQ(moving.center.x, scene_at_clock(clocks[static_cast<std::size_t>(i)]).spheres[1].center.x);
    EXPECT_EQ(first_red_of_png(frame_path(out, i, 3)), 40 * (i + 1));
  }
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame_0000.png", "frame_0001.png", "frame_0002.png"}));
}

// Every frame's destination is examined before the first is rendered: a
// frame name taken by a folder, or by a file that may not be replaced,
// costs nothing.
TEST(AnimationExport, FramesThatCannotBeWrittenAreFoundFirst) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "frames/frame_0002.png");
  const auto frames = std::make_shared<const outputs::Folder>(dir / "frames", dir / "frames");
  EXPECT_NO_THROW(check_frame_destinations(frames, 2));
  EXPECT_THROW(check_frame_destinations(frames, 3), outputs::OutputError);
}

}  // namespace
}  // namespace render_tool
