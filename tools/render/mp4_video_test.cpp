#include "tools/render/mp4_video.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tools/outputs/scratch_dir.h"

namespace render_tool {
namespace {

std::string box(const std::string& type, const std::string& body, std::uint32_t size = 0) {
  if (size == 0) size = static_cast<std::uint32_t>(8 + body.size());
  return std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                     static_cast<char>(size)} +
         type + body;
}

std::string word(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A track as the encoder writes it, reduced to what is read: its handler
// and its sample-size table.
std::string track(const std::string& handler, std::uint32_t samples, const std::string& table = "stsz") {
  const std::string hdlr = box("hdlr", word(0) + word(0) + handler + std::string(12, '\0'));
  const std::string sizes = box(table, word(0) + word(0) + word(samples));
  return box("trak", box("tkhd", std::string(20, 'x')) +
                         box("mdia", box("mdhd", std::string(20, 'x')) + hdlr +
                                         box("minf", box("stbl", box("stsd", "xxxx") + sizes))));
}

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
