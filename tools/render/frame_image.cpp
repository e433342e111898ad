#include "tools/render/frame_image.h"

#include <png.h>

#include <stdexcept>
#include <string>

namespace render_tool {

std::vector<std::uint8_t> raw_frame_bytes(std::span<const std::uint32_t> words) {
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

std::vector<std::uint8_t> frame_rgb_top_down(std::span<const std::uint32_t> words, int width, int height) {
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  if (words.size() < w * h) throw std::invalid_argument("frame_rgb_top_down: too few pixel words");
  std::vector<std::uint8_t> rgb(w * h * 3);
  for (std::size_t row = 0; row < h; ++row) {
    const std::uint32_t* src = words.data() + (h - 1 - row) * w;
    std::uint8_t* dst = rgb.data() + row * w * 3;
    for (std::size_t x = 0; x < w; ++x) {
      dst[3 * x + 0] = static_cast<std::uint8_t>(src[x]);
      dst[3 * x + 1] = static_cast<std::uint8_t>(src[x] >> 8);
      dst[3 * x + 2] = static_cast<std::uint8_t>(src[x] >> 16);
    }
  }
  return rgb;
}

std::vector<std::uint8_t> encode_png(std::span<const std::uint32_t> words, int width, int height) {
  const std::vector<std::uint8_t> rgb = frame_rgb_top_down(words, width, height);

  // libpng's simplified interface: no setjmp, errors come back in image.message.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;

  // One pass into a buffer of the largest size the encoder can produce.
  std::vector<std::uint8_t> png(PNG_IMAGE_PNG_SIZE_MAX(image));
  png_alloc_size_t size = png.size();
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, rgb.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("PNG encoder failed: ") + image.message);
  }
  png.resize(size);
  return png;
}

}  // namespace render_tool
