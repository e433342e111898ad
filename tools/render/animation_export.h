// An animation written out as numbered PNGs, and optionally encoded into a
// video by ffmpeg.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "outputs/output_set.h"
#include "frame/frame_renderer.h"

namespace render_tool {

// "frame_0000.png" for index 0; the number has four digits, or more when
// `frames` needs them, so that names sort in frame order.
std::string frame_file_name(int index, int frames);

// The printf pattern of those names ("frame_%04d.png"), as ffmpeg reads them.
std::string frame_file_pattern(int frames);

// The path of frame `index` in `out_dir`.
std::string frame_path(const std::string& out_dir, int index, int frames);

// The frames' folder, held open (see outputs::MadeFolders): every frame is
// named relative to it, never found again by its path, which is kept for
// messages.
using FramesFolder = std::shared_ptr<const outputs::Folder>;

// Examines every frame's destination in `out_dir`, so that a frame that
// could not be replaced costs no rendering.  Throws OutputError.
void check_frame_destinations(const FramesFolder& out_dir, int frames);

// Renders the frames of `scene` at animation_clocks(frames, rate) into
// `out_dir`, each PNG written whole, calling `on_frame` with the number of
// frames done after each.  Throws OutputError when a file cannot be written.
void export_animation(FrameRenderer& renderer, int frames, float rate, const FramesFolder& out_dir,
                      const std::function<void(int)>& on_frame, const AnimatedScene& scene = built_in_scene());

// Whether ffmpeg, asked for its version, answers within `limit`.
enum class EncoderProbe { answers, not_found, fails, silent };
EncoderProbe probe_ffmpeg(std::chrono::milliseconds limit);
inline constexpr std::chrono::seconds kEncoderProbeLimit{5};

// The video's destination, checked and with its temporary created before
// any frame is rendered.  The temporary sits beside a file destination (to
// take its place), or in the frames' folder when the destination is written
// in place (a device, a FIFO, standard output).
struct VideoDestination {
  outputs::Destination target;
  std::unique_ptr<outputs::PendingFile> file;         // a file destination
  std::shared_ptr<const outputs::Folder> scratch_folder;
  std::unique_ptr<outputs::Temporary> scratch;        // an in-place destination
  outputs::Temporary& temporary() { return file ? file->temporary() : *scratch; }
};

// Throws OutputError (or RepeatedOutputError when the video would be one of
// the frames).
std::unique_ptr<VideoDestination> prepare_video(const std::string& video_name, const FramesFolder& out_dir, int frames);

// Encodes the numbered PNGs of `out_dir` into the video's temporary with the
// ffmpeg on the PATH, checks that the result is a whole MP4 file whose video
// track holds every frame, and puts it in place, calling `report` once it
// is.  Throws OutputError when ffmpeg cannot be run, fails, or leaves
// anything less, removing the temporary.
void encode_video(const FramesFolder& out_dir, int frames, float rate, VideoDestination& video,
                  const std::function<void()>& report);

}  // namespace render_tool
