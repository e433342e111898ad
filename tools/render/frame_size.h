// Frame sizes as the command line names them: "1280x960".
#pragma once

#include <string>
#include <vector>

#include "frame/frame_renderer.h"

namespace render_tool {

// The host layer launches the kernel in blocks of 8 x 8 pixels and only in
// whole blocks, so a frame whose width or height is not a multiple of 8 would
// keep unwritten columns or rows.  Such sizes are refused, not rounded.
inline constexpr int kFrameBlockSide = 8;
// The largest side: 8192 x 8192 is 256 MiB of pixel words, well within the
// int in which the host layer counts a frame's bytes.
inline constexpr int kMaxFrameSide = 8192;

// "WIDTHxHEIGHT" as a size the kernel's grid covers.  Throws
// std::invalid_argument with a one-line reason that quotes `text`.
FrameSize parse_frame_size(const std::string& text);

// A comma-separated list of sizes ("320x240,640x480"); an empty item (a
// comma at either end, or two together) is refused as a mistake rather than
// skipped.  Throws std::invalid_argument.
std::vector<FrameSize> parse_frame_sizes(const std::string& text);

// "640x480".
std::string frame_size_text(FrameSize size);

}  // namespace render_tool
