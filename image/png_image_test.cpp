#include "image/png_image.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace image {
namespace {

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

TEST(PngImage, FrameRowsAreFlippedToTopFirst) {
  const RgbImage picture = picture_of_frame(labelled_frame(), 2, 3);
  const std::vector<std::uint8_t> expected = {
      20, 0, 2, 21, 1, 2,  // frame row 2: the top of the picture
      10, 0, 1, 11, 1, 1,  //
      0,  0, 0, 1,  1, 0,  // frame row 0: the bottom
  };
  EXPECT_EQ(picture.width, 2);
  EXPECT_EQ(picture.height, 3);
  EXPECT_EQ(picture.rgb, expected);
}

TEST(PngImage, FrameOfPictureTakesTheLowerLeftCorner) {
  // The 2 x 3 frame drawn at the lower left of a 4 x 5 picture whose other
  // pixels are white: reading back 2 x 3 gives the frame without its top byte.
  const RgbImage small = picture_of_frame(labelled_frame(), 2, 3);
  RgbImage large{4, 5, std::vector<std::uint8_t>(4 * 5 * 3, 255)};
  for (int row = 0; row < 3; ++row) {
    std::copy_n(small.rgb.begin() + row * 2 * 3, 2 * 3, large.rgb.begin() + (row + 2) * 4 * 3);
  }
  std::vector<std::uint32_t> expected = labelled_frame();
  for (std::uint32_t& w : expected) w &= 0xffffffu;
  EXPECT_EQ(frame_of_picture(large, 2, 3), expected);
  EXPECT_EQ(frame_of_picture(small, 2, 3), expected);
}

TEST(PngImage, PngRoundTripKeepsEveryPixel) {
  const RgbImage picture = picture_of_frame(labelled_frame(), 2, 3);
  const std::vector<std::uint8_t> png = encode_png(picture);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png[1], 'P');
  EXPECT_EQ(decode_png(png), picture);
}

TEST(PngImage, MistakesAreRefusedWithTheReason) {
  const std::vector<std::uint32_t> five_words(5);
  EXPECT_THROW(picture_of_frame(five_words, 2, 3), std::invalid_argument);
  EXPECT_THROW(frame_of_picture(RgbImage{2, 3, std::vector<std::uint8_t>(18)}, 3, 3), std::invalid_argument);
  EXPECT_THROW(encode_png(RgbImage{2, 3, std::vector<std::uint8_t>(17)}), std::invalid_argument);
  const std::vector<std::uint8_t> not_png = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
  EXPECT_THROW(decode_png(not_png), std::runtime_error);

  // Paths in a folder that does not exist: nothing is read or created.
  const std::string missing =
      (std::filesystem::temp_directory_path() / "velmora-no-such-folder-for-png" / "x.png").string();
  try {
    read_png_file(missing);
    ADD_FAILURE() << "read a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  EXPECT_THROW(write_png_file(missing, picture_of_frame(labelled_frame(), 2, 3)), std::runtime_error);
}

}  // namespace
}  // namespace image
