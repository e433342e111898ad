// The file formats one frame can be written in.  A format is one entry of
// the table: its name, the option that asks for it (with the value's name
// and the help line), and its encoder.  The command line offers an option
// for each entry, and a run writes the frames asked for in the table's
// order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace render_tool {

struct FrameFormat {
  const char* name;        // "png"
  const char* option;      // "--out"
  const char* value_name;  // "FILE.png"
  const char* help;
  std::vector<std::uint8_t> (*encode)(std::span<const std::uint32_t> words, int width, int height);
};

std::span<const FrameFormat> frame_formats();

// The format written when a single frame names none.
const FrameFormat& default_frame_format();

// One file a single frame is written to, in one format.
struct FrameOutput {
  const FrameFormat* format;
  std::string path;

  bool operator==(const FrameOutput&) const = default;
};

}  // namespace render_tool
