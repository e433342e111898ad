#include "tools/render/frame_size.h"

#include <charconv>
#include <stdexcept>

#include "outputs/output_error.h"

namespace render_tool {
namespace {

// The whole of `text` as a decimal number of at most five digits after any
// leading zeros, or -1.
int read_side(std::string_view text) {
  int value = -1;
  while (text.size() > 1 && text[0] == '0') text.remove_prefix(1);
  if (text.empty() || text.size() > 5) return -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : -1;
}

}  // namespace

FrameSize parse_frame_size(const std::string& text) {
  const std::size_t x = text.find('x');
  const int width = x == std::string::npos ? -1 : read_side(std::string_view(text).substr(0, x));
  const int height = x == std::string::npos ? -1 : read_side(std::string_view(text).substr(x + 1));
  if (width < 0 || height < 0) {
    throw std::invalid_argument(outputs::in_quotes(text) + " is not a size WIDTHxHEIGHT, such as 1280x960");
  }
  if (width < kFrameBlockSide || height < kFrameBlockSide || width > kMaxFrameSide || height > kMaxFrameSide) {
    throw std::invalid_argument(outputs::in_quotes(text) + " is out of range (each side from " +
                                std::to_string(kFrameBlockSide) + " to " + std::to_string(kMaxFrameSide) +
                                " pixels)");
  }
  if (width % kFrameBlockSide != 0 || height % kFrameBlockSide != 0) {
    throw std::invalid_argument(outputs::in_quotes(text) + " is not made of whole 8 x 8 blocks (each side a multiple of " +
                                std::to_string(kFrameBlockSide) + ")");
  }
  return FrameSize{width, height};
}

std::vector<FrameSize> parse_frame_sizes(const std::string& text) {
  std::vector<FrameSize> sizes;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (item.empty()) throw std::invalid_argument(outputs::in_quotes(text) + " has an empty item; name each size once, between commas");
    sizes.push_back(parse_frame_size(item));
    if (comma == std::string::npos) return sizes;
    start = comma + 1;
  }
}

std::string frame_size_text(FrameSize size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace render_tool
