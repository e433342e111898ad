#include "tools/render/mp4_video.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "test_support/scratch_dir.h"
#include "tools/render/mp4_fixture.h"

namespace render_tool {
namespace {

using namespace mp4_fixture;

// The whole-file check tells a finished video from one cut short (a full
// disk, a killed encoder), and the count tells one that holds every frame
// from one that holds fewer, or none (empty boxes).
TEST(Mp4Video, WholeFilesAndTheirVideoSamples) {
  const std::string ftyp = box("ftyp", "isom");
  const std::string mdat = box("mdat", std::string(12, 'm'));
  struct Case {
    std::string bytes;
    std::optional<std::uint64_t> samples;
    const char* what;
  };
  const Case cases[] = {
      {ftyp + mdat + box("moov", track("vide", 3)), 3, "whole, three frames"},
      {ftyp + box("moov", track("soun", 9) + track("vide", 120)) + mdat, 120, "index first, sound before video"},
      {ftyp + mdat + box("moov", track("vide", 7, "stz2")), 7, "compact sample sizes"},
      {ftyp + mdat + box("moov", ""), 0, "three empty boxes"},
      {ftyp + mdat + box("moov", track("soun", 5)), 0, "no video track"},
      {ftyp + box("mdat", "", 0) + std::string(30, 'm'), std::nullopt, "media to the end, no index"},
      {ftyp + mdat, std::nullopt, "no index"},
      {ftyp + box("mdat", "", 200) + box("moov", ""), std::nullopt, "media cut short"},
      {ftyp + mdat + box("moov", track("vide", 3)).substr(0, 40), std::nullopt, "index cut short"},
      {ftyp + mdat + box("moov", track("vide", 3)) + "xyz", std::nullopt, "trailing bytes"},
      {box("ftyp", "", 4), std::nullopt, "box smaller than its header"},
      {"", std::nullopt, "empty"},
  };
  outputs::ScratchDir dir;
  for (const Case& c : cases) {
    const std::string path = dir / "v.mp4";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(mp4_video_samples(fd), c.samples) << c.what;
    ::close(fd);
  }
}

}  // namespace
}  // namespace render_tool
