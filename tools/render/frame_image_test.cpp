#include "tools/render/frame_image.h"

#include <gtest/gtest.h>

namespace render_tool {
namespace {

TEST(FrameImage, RawBytesAreTheWordsLittleEndian) {
  const std::vector<std::uint32_t> words = {0x11223344u, 0xff0000ffu};
  EXPECT_EQ(raw_frame_bytes(words),
            (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xff, 0x00, 0x00, 0xff}));
}

}  // namespace
}  // namespace render_tool
