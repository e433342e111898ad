#include "tools/render/animation_export.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "image/png_image.h"
#include "scene/animation.h"
#include "tools/render/output_file.h"
#include "tools/render/scratch_dir.h"

namespace render_tool {
namespace {

// Remembers the scenes it was given and fills each frame with one colour
// that tells the frames apart.
class RecordingRenderer : public FrameRenderer {
 public:
  FrameTiming render(const SceneRecords& scene, std::span<std::uint32_t> pixels) override {
    scenes.push_back(scene);
    const std::uint32_t shade = static_cast<std::uint32_t>(scenes.size()) * 40u;
    std::fill(pixels.begin(), pixels.end(), 0xff000000u | shade);
    return {};
  }
  std::vector<SceneRecords> scenes;
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
  const std::string out = dir / "nested/frames";  // created on the way
  const auto files = export_animation(renderer, 3, 30.0f, out, [&](int done) { progress.push_back(done); });

  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(progress, (std::vector<int>{1, 2, 3}));
  const std::vector<float> clocks = animation_clocks(3, 30.0f);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(files[static_cast<std::size_t>(i)], out + "/" + frame_file_name(i, 3));
    const Sphere& moving = renderer.scenes[static_cast<std::size_t>(i)].spheres[1];
    EXPECT_EQ(moving.center.x, scene_at_clock(clocks[static_cast<std::size_t>(i)]).spheres[1].center.x);
    EXPECT_EQ(first_red_of_png(files[static_cast<std::size_t>(i)]), 40 * (i + 1));
  }
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame_0000.png", "frame_0001.png", "frame_0002.png"}));
}

TEST(AnimationExport, UnwritableFolderFailsBeforeRendering) {
  ScratchDir dir;
  std::ofstream(dir / "plain-file") << "x";
  RecordingRenderer renderer;
  EXPECT_THROW(export_animation(renderer, 2, 60.0f, dir / "plain-file/frames", nullptr), OutputError);
  EXPECT_THROW(export_animation(renderer, 2, 60.0f, dir / "plain-file", nullptr), OutputError);
  EXPECT_TRUE(renderer.scenes.empty());
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain-file"}));
}

// The check that tells a whole video from one cut short (a full disk, a
// killed encoder): boxes that chain to the end of the file, with the index.
TEST(AnimationExport, WholeMp4IsToldFromACutOne) {
  const auto box = [](const std::string& type, std::uint32_t size, std::size_t body) {
    std::string b = {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                     static_cast<char>(size)};
    return b + type + std::string(body, 'x');
  };
  struct Case {
    std::string bytes;
    bool whole;
    const char* what;
  };
  const Case cases[] = {
      {box("ftyp", 12, 4) + box("mdat", 20, 12) + box("moov", 16, 8), true, "whole"},
      {box("ftyp", 12, 4) + box("moov", 16, 8) + box("mdat", 20, 12), true, "index first"},
      {box("ftyp", 12, 4) + box("mdat", 0, 30), false, "media to the end, no index"},
      {box("ftyp", 12, 4) + box("mdat", 20, 12), false, "no index"},
      {box("ftyp", 12, 4) + box("mdat", 200, 12) + box("moov", 16, 8), false, "media cut short"},
      {box("ftyp", 12, 4) + box("mdat", 20, 12) + box("moov", 16, 3), false, "index cut short"},
      {box("ftyp", 12, 4) + box("mdat", 20, 12) + box("moov", 16, 8) + "xyz", false, "trailing bytes"},
      {box("ftyp", 4, 0), false, "box smaller than its header"},
      {"", false, "empty"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    const std::string path = dir / "v.mp4";
    std::ofstream(path, std::ios::binary) << c.bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(mp4_is_complete(fd), c.whole) << c.what;
    ::close(fd);
  }
}

}  // namespace
}  // namespace render_tool
