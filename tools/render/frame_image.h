// A rendered frame as bytes for a file: the raw pixel words, or a PNG of the
// picture as the window shows it (see image/png_image.h for the frame's
// layout).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace render_tool {

// The words exactly as they are, little-endian, row 0 first.
std::vector<std::uint8_t> raw_frame_bytes(std::span<const std::uint32_t> words);

// An 8-bit RGB PNG of the frame, top row first.  Throws std::runtime_error if
// the encoder fails.
std::vector<std::uint8_t> encode_png(std::span<const std::uint32_t> words, int width, int height);

}  // namespace render_tool
