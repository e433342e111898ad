#include "tools/render/frame_image.h"

#include <gtest/gtest.h>
#include <png.h>

namespace render_tool {
namespace {

TEST(FrameImage, RawBytesAreTheWordsLittleEndian) {
  const std::vector<std::uint32_t> words = {0x11223344u, 0xff0000ffu};
  EXPECT_EQ(raw_frame_bytes(words),
            (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xff, 0x00, 0x00, 0xff}));
}

// A 2 x 3 frame whose words name their own position: row 0 (the bottom of
// the picture) must come out last, and each word gives red, green, blue from
// its low three bytes, the top byte dropped.
std::vector<std::uint32_t> labelled_frame() {
  std::vector<std::uint32_t> words;
  for (std::uint32_t y = 0; y < 3; ++y) {
    for (std::uint32_t x = 0; x < 2; ++x) words.push_back(0xAB000000u | (y << 16) | (x << 8) | (10 * y + x));
  }
  return words;
}

TEST(FrameImage, RgbRowsAreFlippedToTopFirst) {
  const std::vector<std::uint8_t> rgb = frame_rgb_top_down(labelled_frame(), 2, 3);
  const std::vector<std::uint8_t> expected = {
      20, 0, 2, 21, 1, 2,  // frame row 2: the top of the picture
      10, 0, 1, 11, 1, 1,  //
      0,  0, 0, 1,  1, 0,  // frame row 0: the bottom
  };
  EXPECT_EQ(rgb, expected);
}

TEST(FrameImage, PngDecodesToTheFlippedOpaquePicture) {
  const std::vector<std::uint32_t> words = labelled_frame();
  const std::vector<std::uint8_t> png = encode_png(words, 2, 3);

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size())) << image.message;
  EXPECT_EQ(image.width, 2u);
  EXPECT_EQ(image.height, 3u);
  EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u);  // no alpha: opaque
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) << image.message;

  const std::vector<std::uint8_t> rgb = frame_rgb_top_down(words, 2, 3);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(rgba[4 * i + 0], rgb[3 * i + 0]) << i;
    EXPECT_EQ(rgba[4 * i + 1], rgb[3 * i + 1]) << i;
    EXPECT_EQ(rgba[4 * i + 2], rgb[3 * i + 2]) << i;
    EXPECT_EQ(rgba[4 * i + 3], 255) << i;
  }
}

TEST(FrameImage, TooFewWordsAreRefused) {
  const std::vector<std::uint32_t> words(5);
  EXPECT_THROW(frame_rgb_top_down(words, 2, 3), std::invalid_argument);
}

}  // namespace
}  // namespace render_tool
