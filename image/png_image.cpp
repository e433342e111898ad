#include "image/png_image.h"

#include <png.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace image {
namespace {

std::size_t area(int width, int height) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

// libpng's simplified interface needs no setjmp: a failure comes back as a
// false result with the reason in image.message.
png_image png_header(int width, int height) {
  png_image header{};
  header.version = PNG_IMAGE_VERSION;
  header.width = static_cast<png_uint_32>(width);
  header.height = static_cast<png_uint_32>(height);
  header.format = PNG_FORMAT_RGB;
  return header;
}

}  // namespace

RgbImage picture_of_frame(std::span<const std::uint32_t> words, int width, int height) {
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  if (width < 0 || height < 0 || words.size() < area(width, height)) {
    throw std::invalid_argument("picture_of_frame: too few pixel words for the size");
  }
  RgbImage picture{width, height, std::vector<std::uint8_t>(w * h * 3)};
  for (std::size_t row = 0; row < h; ++row) {
    const std::uint32_t* src = words.data() + (h - 1 - row) * w;
    std::uint8_t* dst = picture.rgb.data() + row * w * 3;
    for (std::size_t x = 0; x < w; ++x) {
      dst[3 * x + 0] = static_cast<std::uint8_t>(src[x]);
      dst[3 * x + 1] = static_cast<std::uint8_t>(src[x] >> 8);
      dst[3 * x + 2] = static_cast<std::uint8_t>(src[x] >> 16);
    }
  }
  return picture;
}

std::vector<std::uint32_t> frame_of_picture(const RgbImage& picture, int width, int height) {
  if (width < 0 || height < 0 || picture.width < width || picture.height < height) {
    throw std::invalid_argument("frame_of_picture: the picture is smaller than the frame");
  }
  const std::size_t w = static_cast<std::size_t>(width);
  std::vector<std::uint32_t> words(area(width, height));
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    // Frame row y is picture row (height of the picture - 1 - y), counted
    // from the top.
    const std::size_t row = static_cast<std::size_t>(picture.height) - 1 - y;
    const std::uint8_t* src = picture.rgb.data() + row * static_cast<std::size_t>(picture.width) * 3;
    for (std::size_t x = 0; x < w; ++x) {
      words[y * w + x] = std::uint32_t{src[3 * x]} | std::uint32_t{src[3 * x + 1]} << 8 |
                         std::uint32_t{src[3 * x + 2]} << 16;
    }
  }
  return words;
}

std::vector<std::uint8_t> encode_png(const RgbImage& picture) {
  if (picture.rgb.size() < area(picture.width, picture.height) * 3) {
    throw std::invalid_argument("encode_png: too few bytes for the picture's size");
  }
  png_image header = png_header(picture.width, picture.height);
  // One pass into a buffer of the largest size the encoder can produce.
  std::vector<std::uint8_t> png(PNG_IMAGE_PNG_SIZE_MAX(header));
  png_alloc_size_t size = png.size();
  if (!png_image_write_to_memory(&header, png.data(), &size, 0, picture.rgb.data(), 0, nullptr)) {
    throw std::runtime_error(std::string("PNG encoder failed: ") + header.message);
  }
  png.resize(size);
  return png;
}

RgbImage decode_png(std::span<const std::uint8_t> png) {
  png_image header{};
  header.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&header, png.data(), png.size())) {
    throw std::runtime_error(std::string("not a PNG: ") + header.message);
  }
  header.format = PNG_FORMAT_RGB;
  RgbImage picture{static_cast<int>(header.width), static_cast<int>(header.height),
                   std::vector<std::uint8_t>(PNG_IMAGE_SIZE(header))};
  if (!png_image_finish_read(&header, nullptr, picture.rgb.data(), 0, nullptr)) {
    png_image_free(&header);
    throw std::runtime_error(std::string("cannot decode the PNG: ") + header.message);
  }
  return picture;
}

RgbImage read_png_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    return decode_png(bytes);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

void write_png_file(const std::string& path, const RgbImage& picture) {
  const std::vector<std::uint8_t> png = encode_png(picture);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace image
