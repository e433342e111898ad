// An animation written out as numbered PNGs, and optionally encoded into a
// video by ffmpeg.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/render/render_scene.h"

namespace render_tool {

// "frame_0000.png" for index 0; the number has four digits, or more when
// `frames` needs them, so that names sort in frame order.
std::string frame_file_name(int index, int frames);

// The printf pattern of those names ("frame_%04d.png"), as ffmpeg reads them.
std::string frame_file_pattern(int frames);

// Renders the frames at animation_clocks(frames, rate) into `out_dir`
// (created if missing), each PNG written atomically, calling `on_frame` with
// the number of frames done after each.  Returns the paths in frame order.
// Throws OutputError when the folder or a file cannot be written.
std::vector<std::string> export_animation(FrameRenderer& renderer, int frames, float rate,
                                          const std::string& out_dir,
                                          const std::function<void(int)>& on_frame);

// The full path of the first executable file called `name` in the folders of
// `search_path` (a PATH value), if any.
std::optional<std::string> find_on_path(const std::string& name, const std::string& search_path);

// Encodes the numbered PNGs of `out_dir` into `video_path` with the ffmpeg at
// `ffmpeg`, writing a temporary file beside it and renaming it into place.
// Throws OutputError when ffmpeg cannot be run or fails.
void encode_video(const std::string& ffmpeg, const std::string& out_dir, int frames, float rate,
                  const std::string& video_path);

}  // namespace render_tool
