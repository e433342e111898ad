#include "image/frame_files.h"

#include <gtest/gtest.h>

#include "image/png_image.h"

namespace image {
namespace {

TEST(FrameFiles, RawBytesAreTheWordsLittleEndian) {
  const std::vector<std::uint32_t> words = {0x11223344u, 0xff0000ffu};
  EXPECT_EQ(raw_frame_bytes(words, 2, 1),
            (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xff, 0x00, 0x00, 0xff}));
}

// The PNG holds the frame's picture: decoded, it gives the words back with
// the top byte dropped.
TEST(FrameFiles, PngDecodesToTheFramesPicture) {
  const std::vector<std::uint32_t> words = {0xff112233u, 0x00445566u, 0x12778899u, 0x34aabbccu,
                                            0x56ddeeffu, 0x78000102u};
  const std::vector<std::uint8_t> png = frame_png_bytes(words, 3, 2);
  EXPECT_EQ(frame_of_picture(decode_png(png), 3, 2),
            (std::vector<std::uint32_t>{0x112233u, 0x445566u, 0x778899u, 0xaabbccu, 0xddeeffu, 0x000102u}));
}

}  // namespace
}  // namespace image
