#include "image/frame_files.h"

#include "image/png_image.h"

namespace image {

// The size does not matter to the words, only their count.
std::vector<std::uint8_t> raw_frame_bytes(std::span<const std::uint32_t> words, int, int) {
  std::vector<std::uint8_t> bytes(words.size() * 4);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::uint32_t w = words[i];
    bytes[4 * i + 0] = static_cast<std::uint8_t>(w);
    bytes[4 * i + 1] = static_cast<std::uint8_t>(w >> 8);
    bytes[4 * i + 2] = static_cast<std::uint8_t>(w >> 16);
    bytes[4 * i + 3] = static_cast<std::uint8_t>(w >> 24);
  }
  return bytes;
}

std::vector<std::uint8_t> frame_png_bytes(std::span<const std::uint32_t> words, int width, int height) {
  return encode_png(picture_of_frame(words, width, height));
}

}  // namespace image
