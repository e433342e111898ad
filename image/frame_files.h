// A rendered frame as the bytes of a file, one encoder a format: the raw
// pixel words, or a PNG of the picture as the window shows it (see
// png_image.h for the frame's layout).  Every encoder takes the frame's
// words and its size, so that a table of formats can hold any of them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace image {

// The words exactly as they are, little-endian, row 0 first.
std::vector<std::uint8_t> raw_frame_bytes(std::span<const std::uint32_t> words, int width, int height);

// An 8-bit RGB PNG of the frame, top row first.  Throws std::runtime_error if
// the encoder fails.
std::vector<std::uint8_t> frame_png_bytes(std::span<const std::uint32_t> words, int width, int height);

}  // namespace image
