#include "tools/render/animation_export.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/render/frame_image.h"
#include "tools/render/output_file.h"

namespace render_tool {
namespace {

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

std::vector<std::string> export_animation(FrameRenderer& renderer, int frames, float rate,
                                          const std::string& out_dir,
                                          const std::function<void(int)>& on_frame) {
  std::error_code error;
  std::filesystem::create_directories(out_dir, error);
  if (error || !std::filesystem::is_directory(out_dir)) {
    const std::string reason = error ? error.message() : "it is not a folder";
    throw OutputError("cannot create the folder '" + out_dir + "': " + reason);
  }

  const FrameSize size = renderer.size();
  std::vector<std::uint32_t> pixels(size.pixel_count());
  std::vector<std::string> written;
  const std::vector<float> clocks = animation_clocks(frames, rate);
  for (int i = 0; i < frames; ++i) {
    renderer.render(scene_at_clock(clocks[static_cast<std::size_t>(i)]), pixels);
    const std::string path = (std::filesystem::path(out_dir) / frame_file_name(i, frames)).string();
    write_files_atomically({{path, encode_png(pixels, size.width, size.height)}});
    written.push_back(path);
    if (on_frame) on_frame(i + 1);
  }
  return written;
}

std::optional<std::string> find_on_path(const std::string& name, const std::string& search_path) {
  std::size_t start = 0;
  while (start <= search_path.size()) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string::npos) end = search_path.size();
    // An empty entry means the current folder, as for the shell.
    const std::string folder = end > start ? search_path.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

void encode_video(const std::string& ffmpeg, const std::string& out_dir, int frames, float rate,
                  const std::string& video_path) {
  char rate_text[32];
  const auto rate_end = std::to_chars(rate_text, rate_text + sizeof rate_text, rate);
  const std::string input = (std::filesystem::path(out_dir) / frame_file_pattern(frames)).string();
  const std::string temporary = temporary_name_beside(video_path);

  // yuv420p is the pixel format every player can decode; the container is
  // named explicitly because the temporary's name is not the final one.
  // clang-format off
  std::vector<std::string> args = {
      ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
      "-framerate", std::string(rate_text, rate_end.ptr), "-start_number", "0", "-i", input,
      "-frames:v", std::to_string(frames), "-pix_fmt", "yuv420p", "-f", "mp4", temporary};
  // clang-format on
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // ffmpeg's own messages go to standard error; standard output stays ours.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  std::fflush(nullptr);
  pid_t pid = 0;
  const int spawn_error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    throw OutputError("cannot write '" + video_path + "': cannot run ffmpeg: " + std::strerror(spawn_error));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) break;
  }
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::error_code ignored;
  if (!ok) {
    std::filesystem::remove(temporary, ignored);
    const std::string how =
        WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status)) : "killed by a signal";
    throw OutputError("cannot write '" + video_path + "': ffmpeg failed (" + how + "); the frames are in '" +
                      out_dir + "'");
  }
  if (::rename(temporary.c_str(), video_path.c_str()) != 0) {
    const int error = errno;
    std::filesystem::remove(temporary, ignored);
    throw OutputError("cannot write '" + video_path + "': " + std::strerror(error));
  }
}

}  // namespace render_tool
