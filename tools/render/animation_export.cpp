#include "tools/render/animation_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "image/frame_files.h"
#include "outputs/child_process.h"
#include "outputs/interrupts.h"
#include "outputs/output_error.h"
#include "tools/render/mp4_video.h"

namespace render_tool {
namespace {

using outputs::OutputError;

int name_digits(int frames) {
  const int last = frames > 0 ? frames - 1 : 0;
  return std::max(4, static_cast<int>(std::to_string(last).size()));
}

}  // namespace

std::string frame_file_name(int index, int frames) {
  std::string number = std::to_string(index);
  const std::size_t digits = static_cast<std::size_t>(name_digits(frames));
  if (number.size() < digits) number.insert(0, digits - number.size(), '0');
  return "frame_" + number + ".png";
}

std::string frame_file_pattern(int frames) {
  return "frame_%0" + std::to_string(name_digits(frames)) + "d.png";
}

std::string frame_path(const std::string& out_dir, int index, int frames) {
  return (std::filesystem::path(out_dir) / frame_file_name(index, frames)).string();
}

namespace {

outputs::Destination frame_destination(const FramesFolder& out_dir, int index, int frames) {
  return outputs::examine_destination_in(out_dir, frame_file_name(index, frames),
                                         frame_path(out_dir->path(), index, frames));
}

}  // namespace

void check_frame_destinations(const FramesFolder& out_dir, int frames) {
  for (int i = 0; i < frames; ++i) frame_destination(out_dir, i, frames);
}

void export_animation(FrameRenderer& renderer, int frames, float rate, const FramesFolder& out_dir,
                      const std::function<void(int)>& on_frame, const AnimatedScene& scene) {
  const FrameSize size = renderer.size();
  std::vector<std::uint32_t> pixels(size.pixel_count());
  const std::vector<float> clocks = animation_clocks(frames, rate);
  for (int i = 0; i < frames; ++i) {
    outputs::OutputSet frame(std::vector<outputs::Destination>{frame_destination(out_dir, i, frames)});
    renderer.render(scene.at_clock(clocks[static_cast<std::size_t>(i)]), pixels);
    frame.write_all({image::frame_png_bytes(pixels, size.width, size.height)});
    if (on_frame) on_frame(i + 1);
  }
}

EncoderProbe probe_ffmpeg(std::chrono::milliseconds limit) {
  // What it prints (a few lines) goes into a pipe that is never read.
  int sink[2];
  if (::pipe2(sink, O_CLOEXEC) != 0) return EncoderProbe::fails;
  const outputs::UniqueFd read_end(sink[0]), write_end(sink[1]);
  try {
    outputs::ChildProcess ffmpeg({"ffmpeg", "-hide_banner", "-version"},
                                 {{write_end.get(), STDOUT_FILENO}, {write_end.get(), STDERR_FILENO}});
    const std::optional<int> status = ffmpeg.wait_for(limit);
    if (!status) return EncoderProbe::silent;
    return WIFEXITED(*status) && WEXITSTATUS(*status) == 0 ? EncoderProbe::answers : EncoderProbe::fails;
  } catch (const OutputError& e) {
    return e.error_number() == ENOENT ? EncoderProbe::not_found : EncoderProbe::fails;
  }
}

std::unique_ptr<VideoDestination> prepare_video(const std::string& video_name, const FramesFolder& out_dir, int frames) {
  auto video = std::make_unique<VideoDestination>();
  video->target = outputs::examine_destination(video_name);
  if (video->target.is_replaced()) {
    // The video must not be one of the frames it is made from: the same
    // folder, and a frame's name there.
    struct stat frames_folder {}, video_folder {};
    const bool same_folder = ::fstat(out_dir->fd(), &frames_folder) == 0 &&
                             ::fstat(video->target.folder->fd(), &video_folder) == 0 &&
                             frames_folder.st_dev == video_folder.st_dev && frames_folder.st_ino == video_folder.st_ino;
    const std::string& file = video->target.leaf;
    const std::string digits = file.size() > 10 ? file.substr(6, file.size() - 10) : "";
    const bool numbered = !digits.empty() && digits.size() <= 9 &&
                          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (same_folder && numbered && std::stoi(digits) < frames && file == frame_file_name(std::stoi(digits), frames)) {
      throw outputs::RepeatedOutputError(outputs::in_quotes(video_name) + " is one of the frames; name the video elsewhere");
    }
    video->file = std::make_unique<outputs::PendingFile>(video->target);
  } else {
    video->scratch_folder = out_dir;
    video->scratch = std::make_unique<outputs::Temporary>(video->scratch_folder, video_name, 0600);
  }
  return video;
}

void encode_video(const FramesFolder& out_dir, int frames, float rate, VideoDestination& video,
                  const std::function<void()>& report) {
  const std::string& name = video.target.name;
  char rate_text[32];
  const auto rate_end = std::to_chars(rate_text, rate_text + sizeof rate_text, rate);

  // Neither path can be read as an option, a protocol or a pattern, and
  // neither is found again by its name: the frames' folder, held open, is
  // handed over as descriptor 4 and the frames named through /proc
  // ("file:/proc/self/fd/4/frame_%04d.png"); the video is the temporary we
  // created, handed over as descriptor 3.
  const std::string input = "file:/proc/self/fd/4/" + frame_file_pattern(frames);
  // yuv420p is the pixel format every player can decode; the container is
  // named because the output's name says nothing about it.  -xerror makes
  // any error, such as a failed write, end ffmpeg with a failure status.
  // clang-format off
  const std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-loglevel", "error", "-xerror", "-nostdin", "-y",
      "-framerate", std::string(rate_text, rate_end.ptr), "-start_number", "0", "-i", input,
      "-frames:v", std::to_string(frames), "-pix_fmt", "yuv420p", "-f", "mp4", "file:/proc/self/fd/3"};
  // clang-format on

  // ffmpeg's own messages go to standard error; standard output stays ours.
  int status = 0;
  try {
    // Each is handed over from a number above those it takes in ffmpeg, so
    // that giving one its number never overwrites another still to give.
    const outputs::UniqueFd video_fd(::fcntl(video.temporary().fd(), F_DUPFD_CLOEXEC, 10));
    const outputs::UniqueFd frames_fd(::fcntl(out_dir->fd(), F_DUPFD_CLOEXEC, 10));
    if (!video_fd || !frames_fd) throw OutputError(std::strerror(errno), errno);
    outputs::ChildProcess ffmpeg(args, {{video_fd.get(), 3}, {frames_fd.get(), 4}, {STDERR_FILENO, STDOUT_FILENO}});
    status = ffmpeg.wait();
  } catch (const OutputError& e) {
    throw OutputError("cannot write " + outputs::in_quotes(name) + ": " + e.what(), e.error_number());
  }

  const std::string frames_note = "; the frames are in " + outputs::in_quotes(out_dir->path());
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    throw OutputError("cannot write " + outputs::in_quotes(name) + ": ffmpeg failed (" +
                      outputs::describe_wait_status(status) + ")" + frames_note);
  }
  const std::optional<std::uint64_t> samples = mp4_video_samples(video.temporary().fd());
  if (!samples) {
    throw OutputError("cannot write " + outputs::in_quotes(name) +
                      ": ffmpeg left a file that is not a whole MP4 video" + frames_note);
  }
  if (*samples != static_cast<std::uint64_t>(frames)) {
    throw OutputError("cannot write " + outputs::in_quotes(name) + ": ffmpeg's video holds " +
                      std::to_string(*samples) + " of the " + std::to_string(frames) + " frames" + frames_note);
  }
  if (video.file) {
    outputs::finish_temporary(*video.file);
    outputs::PendingFile* files[] = {video.file.get()};
    outputs::put_in_place(files, report);
  } else {
    outputs::copy_in_place(video.target, video.temporary().fd());
    outputs::UninterruptedStep step;
    if (report) report();
  }
}

}  // namespace render_tool
