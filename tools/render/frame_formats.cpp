#include "tools/render/frame_formats.h"

#include "image/frame_files.h"

namespace render_tool {
namespace {

constexpr FrameFormat kFrameFormats[] = {
    {"png", "--out", "FILE.png", "write the frame as a PNG (default: velmora.png; - for standard output)",
     image::frame_png_bytes},
    {"raw", "--raw", "FILE", "write the frame's pixel words as they are (- for standard output)",
     image::raw_frame_bytes},
};

}  // namespace

std::span<const FrameFormat> frame_formats() { return kFrameFormats; }

const FrameFormat& default_frame_format() { return kFrameFormats[0]; }

}  // namespace render_tool
