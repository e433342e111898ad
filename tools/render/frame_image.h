// A rendered frame as bytes for a file: the raw pixel words, or a PNG of the
// picture as the window shows it.
//
// A frame is width x height pixel words, row 0 first, and row 0 is the bottom
// row of the picture.  In each word red is bits 0-7, green 8-15, blue 16-23.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace render_tool {

// The words exactly as they are, little-endian, row 0 first.
std::vector<std::uint8_t> raw_frame_bytes(std::span<const std::uint32_t> words);

// Red, green, blue bytes per pixel with the top row of the picture first
// (the last row of the frame), as image files store them.
std::vector<std::uint8_t> frame_rgb_top_down(std::span<const std::uint32_t> words, int width, int height);

// An 8-bit RGB PNG of the frame, top row first.  Throws std::runtime_error if
// the encoder fails.
std::vector<std::uint8_t> encode_png(std::span<const std::uint32_t> words, int width, int height);

}  // namespace render_tool
