// An animation written out as numbered PNGs, and optionally encoded into a
// video by ffmpeg.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/render/output_file.h"
#include "tools/render/render_scene.h"

namespace render_tool {

// "frame_0000.png" for index 0; the number has four digits, or more when
// `frames` needs them, so that names sort in frame order.
std::string frame_file_name(int index, int frames);

// The printf pattern of those names ("frame_%04d.png"), as ffmpeg reads them.
std::string frame_file_pattern(int frames);

// Creates `out_dir` (and its parents) unless it is a folder already; throws
// OutputError when it cannot.
void make_frames_folder(const std::string& out_dir);

// Renders the frames at animation_clocks(frames, rate) into `out_dir`
// (created if missing), each PNG written atomically, calling `on_frame` with
// the number of frames done after each.  Returns the paths in frame order.
// Throws OutputError when the folder or a file cannot be written.
std::vector<std::string> export_animation(FrameRenderer& renderer, int frames, float rate,
                                          const std::string& out_dir,
                                          const std::function<void(int)>& on_frame);

// Whether ffmpeg can be started from the PATH (it answers -version).
bool ffmpeg_can_run();

// The video's destination, checked and with its temporary created before
// any frame is rendered.  The temporary sits beside a regular destination
// (to be renamed over it), or in the frames' folder when the destination is
// written in place (a device, a FIFO, standard output).
struct VideoDestination {
  OutputTarget target;
  OwnedTemporary temporary;
};

// Throws OutputError (or RepeatedOutputError when the video would be one of
// the frames).  `out_dir` must exist.
VideoDestination prepare_video(const std::string& video_name, const std::string& out_dir, int frames);

// Encodes the numbered PNGs of `out_dir` into the video's temporary with the
// ffmpeg on the PATH, checks that the result is a complete MP4 file, and
// puts it in place.  Throws OutputError when ffmpeg cannot be run, fails, or
// leaves an incomplete file (a full disk), removing the temporary.
void encode_video(const std::string& out_dir, int frames, float rate, VideoDestination& video);

// Whether the file open at `fd` is a whole MP4 file: a chain of boxes that
// ends exactly at the end of the file and holds the header, the media and
// the index (which the encoder writes last).
bool mp4_is_complete(int fd);

}  // namespace render_tool
