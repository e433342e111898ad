#include "tools/render/mp4_video.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace render_tool {
namespace {

std::uint64_t big_endian(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

struct Box {
  std::string type;
  std::uint64_t body = 0;  // where its contents start
  std::uint64_t end = 0;
};

// The boxes from `at` to `end`, or empty when they do not chain exactly to
// `end`.
std::optional<std::vector<Box>> boxes_in(int fd, std::uint64_t at, std::uint64_t end) {
  std::vector<Box> boxes;
  while (at < end) {
    unsigned char head[16];
    if (end - at < 8 || ::pread(fd, head, 16, static_cast<off_t>(at)) < 8) return std::nullopt;
    std::uint64_t size = big_endian(head, 4);
    std::uint64_t header = 8;
    if (size == 1) {
      if (end - at < 16) return std::nullopt;
      size = big_endian(head + 8, 8);
      header = 16;
    } else if (size == 0) {
      size = end - at;
    }
    if (size < header || size > end - at) return std::nullopt;
    boxes.push_back({std::string(reinterpret_cast<const char*>(head + 4), 4), at + header, at + size});
    at += size;
  }
  return boxes;
}

std::optional<Box> child(int fd, const Box& parent, const std::string& type) {
  const auto children = boxes_in(fd, parent.body, parent.end);
  if (!children) return std::nullopt;
  for (const Box& b : *children) {
    if (b.type == type) return b;
  }
  return std::nullopt;
}

// A 32-bit field `offset` bytes into a box's contents.
std::optional<std::uint64_t> field(int fd, const Box& box, std::uint64_t offset) {
  unsigned char bytes[4];
  if (box.end - box.body < offset + 4 || ::pread(fd, bytes, 4, static_cast<off_t>(box.body + offset)) != 4) {
    return std::nullopt;
  }
  return big_endian(bytes, 4);
}

// The samples of a track whose handler is video, if it is one.
std::optional<std::uint64_t> video_samples_of(int fd, const Box& trak) {
  const auto mdia = child(fd, trak, "mdia");
  if (!mdia) return std::nullopt;
  const auto hdlr = child(fd, *mdia, "hdlr");
  // version and flags, pre_defined, then the handler type.
  if (!hdlr || field(fd, *hdlr, 8) != std::optional<std::uint64_t>(0x76696465)) return std::nullopt;  // "vide"
  const auto minf = child(fd, *mdia, "minf");
  const auto stbl = minf ? child(fd, *minf, "stbl") : std::nullopt;
  if (!stbl) return std::nullopt;
  // Both sample-size tables keep the count after version, flags and one
  // more 32-bit field.
  for (const char* table : {"stsz", "stz2"}) {
    if (const auto t = child(fd, *stbl, table)) return field(fd, *t, 8);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> mp4_video_samples(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  const auto top = boxes_in(fd, 0, static_cast<std::uint64_t>(info.st_size));
  if (!top) return std::nullopt;
  const Box* moov = nullptr;
  bool header = false, media = false;
  for (const Box& b : *top) {
    header = header || b.type == "ftyp";
    media = media || b.type == "mdat";
    if (b.type == "moov") moov = &b;
  }
  if (!header || !media || moov == nullptr) return std::nullopt;
  const auto tracks = boxes_in(fd, moov->body, moov->end);
  if (!tracks) return std::nullopt;
  for (const Box& b : *tracks) {
    if (b.type != "trak") continue;
    if (const auto samples = video_samples_of(fd, b)) return samples;
  }
  return 0;
}

}  // namespace render_tool
