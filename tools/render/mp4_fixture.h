// Test support: MP4 files as the encoder writes them, reduced to the boxes
// that tell a whole video and its frame count.
#pragma once

#include <cstdint>
#include <string>

namespace render_tool::mp4_fixture {

inline std::string word(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A box of `type` around `body`; `size` overrides the size it declares.
inline std::string box(const std::string& type, const std::string& body, std::uint32_t size = 0) {
  return word(size != 0 ? size : static_cast<std::uint32_t>(8 + body.size())) + type + body;
}

// A track with its handler ("vide", "soun") and sample-size table.
inline std::string track(const std::string& handler, std::uint32_t samples, const std::string& table = "stsz") {
  const std::string hdlr = box("hdlr", word(0) + word(0) + handler + std::string(12, '\0'));
  const std::string sizes = box(table, word(0) + word(0) + word(samples));
  return box("trak", box("tkhd", std::string(20, 'x')) +
                         box("mdia", box("mdhd", std::string(20, 'x')) + hdlr +
                                         box("minf", box("stbl", box("stsd", "xxxx") + sizes))));
}

// A whole video of `frames` frames.
inline std::string video(std::uint32_t frames) {
  return box("ftyp", "isom") + box("mdat", std::string(12, 'm')) + box("moov", track("vide", frames));
}

}  // namespace render_tool::mp4_fixture
