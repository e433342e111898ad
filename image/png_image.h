// Pictures as PNG files, and the renderer's frames as pictures.
//
// A frame is width x height pixel words, row 0 first, and row 0 is the bottom
// row of the picture (as the window draws it).  In each word red is bits 0-7,
// green 8-15, blue 16-23; the top byte is not part of the picture.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace image {

// An 8-bit RGB picture, three bytes a pixel, the top row first, as image
// files store it.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  bool operator==(const RgbImage&) const = default;
};

// The frame as a picture: rows flipped so the top comes first, the top byte
// of each word dropped.  Throws std::invalid_argument when `words` holds
// fewer than width x height words.
RgbImage picture_of_frame(std::span<const std::uint32_t> words, int width, int height);

// The lower-left width x height pixels of `picture` as frame words (top byte
// zero), where a window draws its frame.  Throws std::invalid_argument when
// the picture is smaller than that.
std::vector<std::uint32_t> frame_of_picture(const RgbImage& picture, int width, int height);

// The picture as an 8-bit RGB PNG, and back.  Decoding converts any PNG to
// 8-bit RGB (alpha composed over black).  Both throw std::runtime_error with
// libpng's reason when they fail.
std::vector<std::uint8_t> encode_png(const RgbImage& picture);
RgbImage decode_png(std::span<const std::uint8_t> png);

// The same through a file.  Throw std::runtime_error naming the file and the
// reason (it cannot be opened, read or written, or is not a PNG).
RgbImage read_png_file(const std::string& path);
void write_png_file(const std::string& path, const RgbImage& picture);

}  // namespace image
