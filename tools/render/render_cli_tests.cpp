// Whole-program tests of velmora-render: the built program is run with
// command lines as a user would type them, and its files, messages and exit
// statuses are checked.  Frames are compared word for word with the host
// trace of the same scene.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "cpu_runtime/runtime.h"
#include "image/png_image.h"
#include "kernel/host_scene.h"
#include "tools/render/animation_export.h"
#include "tools/render/frame_size.h"
#include "frame/host_renderer.h"
#include "frame/frame_renderer.h"
#include "outputs/output_error.h"
#include "test_support/program_run.h"
#include "test_support/scratch_dir.h"
#include "tools/render/mp4_fixture.h"
#include "tools/render/mp4_video.h"
#include "tools/render/usage_mistakes.h"

namespace render_tool {
namespace {

using outputs::ScratchDir;

using test_support::Launch;
using test_support::Running;
using RunResult = test_support::ProgramRun;

std::string read_text(const std::filesystem::path& path) { return test_support::file_text(path); }

Running start_render(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                     const Launch& launch = {}) {
  return test_support::start_program(VELMORA_RENDER_PROGRAM, args, cwd, launch);
}

RunResult finish_render(const Running& running) { return test_support::finish_program(running); }

// Runs the program in folder `cwd` with `args` and waits for it.
RunResult run_render(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                     const Launch& launch = {}) {
  return test_support::run_program(VELMORA_RENDER_PROGRAM, args, cwd, launch);
}

RunResult run_render(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                     const std::string& path) {
  return run_render(args, cwd, Launch{path, {}, false, {}});
}

// Hidden files anywhere under `folder`: what a temporary would leave.
std::vector<std::string> hidden_files_under(const std::filesystem::path& folder) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (e.path().filename().string().rfind('.', 0) == 0) found.push_back(e.path().string());
  }
  return found;
}

// The frames in the video track of the whole MP4 file at `path`; empty when
// it is not one.
std::optional<std::uint64_t> video_frames(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return std::nullopt;
  const auto samples = mp4_video_samples(fd);
  ::close(fd);
  return samples;
}

// A stand-in for ffmpeg that answers -version (or, as FAKE_MODE says, never
// answers it), records its arguments, and then writes a whole MP4 file of
// as many frames as it was asked for (the default), a file cut short with
// status 0 (as the real one does on a full disk), three empty boxes, fails
// with status 3, or writes its process id and sleeps (a long encode).  As
// a wrapper script that starts the real encoder without exec, it writes
// that child's id and waits for it, when encoding ("wrapper") or when asked
// for its version ("mute-wrapper").  It writes the video where the real one
// would: the last argument, less "file:".
std::string write_fake_ffmpeg(const ScratchDir& dir) {
  std::filesystem::create_directories(dir.path() / "bin");
  std::filesystem::create_directories(dir.path() / "bin/videos");
  for (std::uint32_t frames = 1; frames <= 4; ++frames) {
    std::ofstream(dir / ("bin/videos/" + std::to_string(frames) + ".mp4"), std::ios::binary)
        << mp4_fixture::video(frames);
  }
  const std::string fake = dir / "bin/ffmpeg";
  std::ofstream(fake) << "#!/bin/sh\n"
                         "if [ \"$2\" = -version ]; then\n"
                         "  [ \"$FAKE_MODE\" = mute ] && exec /bin/sleep 60\n"
                         "  if [ \"$FAKE_MODE\" = mute-wrapper ]; then\n"
                         "    /bin/sleep 60 & echo $! > \"" << (dir / "ffmpeg-pid") << "\"; wait\n"
                         "  fi\n"
                         "  exit 0\n"
                         "fi\n"
                         "printf '%s\\n' \"$@\" > \"" << (dir / "ffmpeg-args") << "\"\n"
                         "frames=0; previous=\n"
                         "for last; do [ \"$previous\" = -frames:v ] && frames=$last; previous=$last; done\n"
                         "out=${last#file:}\n"
                         "case \"$FAKE_MODE\" in\n"
                         "  fail) exit 3 ;;\n"
                         "  slow) echo $$ > \"" << (dir / "ffmpeg-pid") << "\"; exec /bin/sleep 60 ;;\n"
                         "  wrapper) /bin/sleep 60 & echo $! > \"" << (dir / "ffmpeg-pid") << "\"; wait ;;\n"
                         "  cut) printf '\\000\\000\\000\\014ftypisom\\000\\000\\000\\200mdat' > \"$out\" ;;\n"
                         "  empty) printf '\\000\\000\\000\\010ftyp\\000\\000\\000\\010mdat\\000\\000\\000\\010moov'"
                         " > \"$out\" ;;\n"
                         "  *) /bin/cat \"" << (dir / "bin/videos") << "/$frames.mp4\" > \"$out\" ;;\n"
                         "esac\n";
  ::chmod(fake.c_str(), 0755);
  return dir / "bin";
}

std::vector<std::uint32_t> read_raw(const std::filesystem::path& path) {
  const std::string bytes = read_text(path);
  std::vector<std::uint32_t> words(bytes.size() / 4);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const auto b = [&](std::size_t k) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4 * i + k]));
    };
    words[i] = b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
  }
  return words;
}

// The host trace of the frame the tool should make of `scene`.
std::vector<std::uint32_t> host_trace(const SceneRecords& scene, FrameSize size = {}) {
  HostScene host;
  host.set_spheres(scene.spheres, kInitialSphereCount);
  host.set_materials(scene.materials, kInitialMaterialCount);
  host.light_position = scene.lights[0].position;
  std::vector<std::uint32_t> words(size.pixel_count());
  trace_frame_scalar(host.view(), size.width, size.height, words.data());
  return words;
}

// Index of the first differing word, or -1; a whole-frame comparison that
// names one pixel instead of printing a million.
long first_difference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  if (a.size() != b.size()) return 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return -1;
}

std::string joined(const std::vector<std::string>& args) {
  std::string s;
  for (const std::string& a : args) s += a + " ";
  return s;
}

TEST(RenderProgram, RawFramesEqualTheHostTrace) {
  struct Case {
    std::vector<std::string> args;
    SceneRecords scene;
  };
  const Case cases[] = {
      {{"--initial"}, initial_scene()},
      {{}, scene_at_clock(first_viewer_clock())},
      {{"--clock", "0"}, scene_at_clock(0.0f)},
      {{"--clock", "2.5", "--kernel", "scalar"}, scene_at_clock(2.5f)},
      {{"--clock", "-3.7", "--threads", "1"}, scene_at_clock(-3.7f)},
      {{"--clock", "4.2", "--kernel", "simd", "--threads", "2"}, scene_at_clock(4.2f)},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--raw", dir / "frame.raw"});
    const RunResult run = run_render(args, dir.path());
    ASSERT_EQ(run.exit_code, 0) << joined(args) << run.err;
    EXPECT_EQ(run.err, "") << joined(args);
    EXPECT_EQ(std::filesystem::file_size(dir / "frame.raw"), 1'228'800u);
    EXPECT_EQ(first_difference(read_raw(dir / "frame.raw"), host_trace(c.scene)), -1) << joined(args);
    // --raw alone writes no PNG.
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"frame.raw"})) << joined(args);
  }
}

TEST(RenderProgram, PngIsTheRawFrameFlipped) {
  ScratchDir dir;
  const RunResult run =
      run_render({"--clock", "1.3", "--out", dir / "pic.png", "--raw", dir / "pic.raw"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::uint32_t> words = read_raw(dir / "pic.raw");
  ASSERT_EQ(words.size(), FrameSize{}.pixel_count());
  const image::RgbImage picture = image::read_png_file(dir / "pic.png");
  EXPECT_EQ(picture, image::picture_of_frame(words, kFrameWidth, kFrameHeight));

  // The picture is not upside down: the lit floor is at the bottom of the
  // image, and the black background at the top-left corner.
  const auto pixel = [&](int x, int y_from_top) {
    return picture.rgb.data() + 3 * (y_from_top * kFrameWidth + x);
  };
  EXPECT_GT(pixel(320, 475)[0], 40);
  EXPECT_EQ(pixel(320, 475)[0], pixel(320, 475)[2]);  // white floor: grey
  EXPECT_EQ(pixel(5, 5)[0] + pixel(5, 5)[1] + pixel(5, 5)[2], 0);
}

TEST(RenderProgram, DefaultOutputIsVelmoraPngOfTheFirstViewerFrame) {
  ScratchDir dir;
  const RunResult run = run_render({}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"velmora.png"}));
  EXPECT_EQ(image::read_png_file(dir / "velmora.png"),
            image::picture_of_frame(host_trace(scene_at_clock(first_viewer_clock())), kFrameWidth, kFrameHeight));
}

TEST(RenderProgram, AnimationWritesNumberedFramesAtTheClockSteps) {
  ScratchDir dir;
  const int frames = 4;
  const float rate = 30.0f;
  const RunResult run = run_render(
      {"--frames", "4", "--rate", "30", "--out-dir", dir / "anim", "--kernel", "scalar"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");  // standard error is not a terminal: no progress bar

  EXPECT_EQ(run.out, "wrote 4 frames to " + (dir / "anim") + " (frame_0000.png ... frame_0003.png)\n");
  const RunResult one = run_render({"--frames", "1", "--out-dir", "one"}, dir.path());
  EXPECT_EQ(one.out, "wrote 1 frame to one (frame_0000.png)\n");

  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "anim")) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"frame_0000.png", "frame_0001.png", "frame_0002.png",
                                             "frame_0003.png"}));

  // Frame k shows the clock 1 + (k + 1) * 0.5 / rate, and each differs from
  // the one before.
  const std::vector<float> clocks = animation_clocks(frames, rate);
  image::RgbImage previous;
  for (int k = 0; k < frames; ++k) {
    const image::RgbImage picture = image::read_png_file(dir.path() / "anim" / frame_file_name(k, frames));
    const float clock = 1.0f + static_cast<float>(k + 1) * 0.5f / rate;
    EXPECT_NEAR(clocks[static_cast<std::size_t>(k)], clock, 1e-6f);
    EXPECT_EQ(picture, image::picture_of_frame(host_trace(scene_at_clock(clocks[static_cast<std::size_t>(k)])),
                                               kFrameWidth, kFrameHeight))
        << "frame " << k;
    EXPECT_NE(picture, previous) << "frame " << k;
    previous = picture;
  }
}

// Mistakes beside the command line's own (those are in usage_mistakes.h):
// one line on standard error, the right status, and nothing left in the
// folder: no picture, no frame folder, no temporary, and an existing
// picture neither written nor replaced.
TEST(RenderProgram, MistakesLeaveNothingBehind) {
  ScratchDir dir;
  std::ofstream(dir / "plain-file") << "x";
  std::ofstream(dir / "old.png") << "old";
  std::filesystem::create_directories(dir.path() / "empty-bin");
  std::filesystem::create_directories(dir.path() / "a-folder");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string mentions;
  };
  const Case cases[] = {
      {{"--verify", "--out", dir / "old.png"}, 2, "--out cannot be used with --verify"},
      {{"--out", dir / "plain-file/x.png"}, 1, "plain-file/x.png"},
      {{"--raw", dir / "no-such-folder/x.raw"}, 1, "No such file or directory"},
      {{"--out", "."}, 1, "cannot write '.': it is a folder, not a file"},
      {{"--out", dir / "old.png", "--raw", dir / "no-such-folder/x.raw"}, 1, "no-such-folder/x.raw"},
      {{"--out", dir / "old.png", "--raw", dir / "a-folder"}, 1, "a-folder': it is a folder"},
      {{"--out", dir / "old.png", "--raw", dir / "old.png"}, 2, "are the same output"},
      {{"--out", "same.png", "--raw", dir / "same.png"}, 2, "are the same output"},
      {{"--out", "-", "--raw", "/proc/self/fd/1"}, 2, "are the same output"},
      {{"--frames", "2", "--out-dir", dir / "plain-file/anim"}, 1, "cannot create the folder"},
      {{"--frames", "2", "--out-dir", dir / "anim", "--video", dir / "clip.mp4"}, 1, "ffmpeg"},
  };
  for (const Case& c : cases) {
    const RunResult run = run_render(c.args, dir.path(), dir / "empty-bin");
    EXPECT_EQ(run.exit_code, c.exit_code) << joined(c.args) << run.err;
    EXPECT_EQ(run.err.rfind("velmora-render: ", 0), 0u) << joined(c.args) << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << joined(c.args) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined(c.args) << run.err;
    EXPECT_EQ(run.out, "") << joined(c.args);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a-folder", "empty-bin", "old.png", "plain-file"}))
        << joined(c.args);
    EXPECT_EQ(read_text(dir / "old.png"), "old") << joined(c.args);
  }
}

// --verify renders through the back-end, compares the frame with the
// reference frame and writes nothing: two lines on standard output and
// status 0 on the tree as it is.
TEST(RenderProgram, VerifiedFramesMatchTheReference) {
  struct Case {
    std::vector<std::string> args;
    std::string first_line_starts;
  };
  const Case cases[] = {
      {{"--verify"}, "640 x 480, clock 1.008333: "},
      {{"--verify", "--initial", "--kernel", "simd"}, "640 x 480, initial scene: "},
      {{"--verify", "--clock", "4.2", "--kernel", "scalar", "--threads", "1"}, "640 x 480, clock 4.200000: "},
      {{"--verify", "--clock", "2.5", "--size", "1280x960"}, "1280 x 960, clock 2.500000: "},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    const RunResult run = run_render(c.args, dir.path());
    EXPECT_EQ(run.exit_code, 0) << joined(c.args) << run.out << run.err;
    EXPECT_EQ(run.err, "") << joined(c.args);
    EXPECT_EQ(run.out.rfind(c.first_line_starts, 0), 0u) << joined(c.args) << run.out;
    EXPECT_NE(run.out.find("pixels differ by more than 1 in a channel"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("\nmatches the reference\n")) << joined(c.args) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << joined(c.args) << run.out;
    EXPECT_TRUE(dir.entries().empty()) << joined(c.args);
  }
}

// Standard output ("-" or the same file reached another way) and FIFOs are
// written in place; the report then goes to standard error, apart from the
// frame.
TEST(RenderProgram, StandardOutputAndFifosAreWrittenInPlace) {
  ScratchDir dir;
  const std::vector<std::uint32_t> expected = host_trace(initial_scene());

  const RunResult raw = run_render({"--initial", "--raw", "-"}, dir.path());
  ASSERT_EQ(raw.exit_code, 0) << raw.err;
  EXPECT_EQ(raw.err, "wrote standard output (640 x 480, initial scene)\n");
  std::ofstream(dir / "raw.bin", std::ios::binary) << raw.out;
  EXPECT_EQ(first_difference(read_raw(dir / "raw.bin"), expected), -1);

  const RunResult png = run_render({"--initial", "--out", "/proc/self/fd/1"}, dir.path());
  ASSERT_EQ(png.exit_code, 0) << png.err;
  std::ofstream(dir / "out.png", std::ios::binary) << png.out;
  EXPECT_EQ(image::read_png_file(dir / "out.png"), image::picture_of_frame(expected, kFrameWidth, kFrameHeight));

  // A FIFO: the reader gets the frame; the FIFO stays a FIFO.
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] { received = read_text(fifo); });
  const RunResult to_fifo = run_render({"--initial", "--raw", fifo, "--out", dir / "beside.png"}, dir.path());
  reader.join();
  ASSERT_EQ(to_fifo.exit_code, 0) << to_fifo.err;
  EXPECT_EQ(received.size(), 1'228'800u);
  struct stat info {};
  ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"beside.png", "fifo", "out.png", "raw.bin"}));
}

// A result that cannot reach standard output is a failure, not a silent 0.
TEST(RenderProgram, LostStandardOutputIsAFailure) {
  ScratchDir dir;
  const std::vector<std::string> cases[] = {
      {"--version"}, {"--help"}, {"--bench", "--seconds", "0.05", "--json"}};
  for (const auto& args : cases) {
    const RunResult run = run_render(args, dir.path(), Launch{std::nullopt, {}, true, {}});
    EXPECT_EQ(run.exit_code, 1) << joined(args);
    EXPECT_EQ(run.err, "velmora-render: cannot write standard output: it was closed when the program started\n")
        << joined(args);
  }
  EXPECT_TRUE(dir.entries().empty());
}

// Names as long as the file system allows are fine: the temporary beside
// them has a short name of its own.
TEST(RenderProgram, NamesAtTheFileSystemsLimit) {
  ScratchDir dir;
  for (std::size_t length : {236u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".png";
    const RunResult run = run_render({"--initial", "--out", name}, dir.path());
    EXPECT_EQ(run.exit_code, 0) << length << ": " << run.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{name});
    std::filesystem::remove(dir / name);
  }
}

// ffmpeg here may be a stand-in that records how it was called and writes
// (or fails to write) the video, so that each way of failing can be shown.
TEST(RenderProgram, VideoIsEncodedByFfmpegFromThePath) {
  ScratchDir dir;
  const std::string path = write_fake_ffmpeg(dir);
  const std::vector<std::string> args = {"--frames", "2", "--rate", "24", "--out-dir", "anim", "--video", "clip.mp4"};

  const RunResult run = run_render(args, dir.path(), path);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(video_frames(dir / "clip.mp4"), 2u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"anim", "bin", "clip.mp4", "ffmpeg-args"}));
  const std::string recorded = read_text(dir / "ffmpeg-args");
  // The frames by an absolute name that no option, protocol or pattern
  // reading can mistake; the video as the descriptor of our own temporary.
  for (const std::string& needle : std::vector<std::string>{"-xerror\n", "-framerate\n24\n", "-start_number\n0\n", "-i\nfile:/proc/self/fd/4/frame_%04d.png\n",
        "-frames:v\n2\n", "-f\nmp4\nfile:/proc/self/fd/3\n"}) {
    EXPECT_NE(recorded.find(needle), std::string::npos) << needle << " in\n" << recorded;
  }

  // Failing encoders: status 1, one line of ours, no video and no
  // temporary; the frames stay.
  struct Failure {
    std::string mode, says;
  };
  const Failure failures[] = {
      {"fail", "ffmpeg failed (exit status 3); the frames are in 'anim'"},
      {"cut", "ffmpeg left a file that is not a whole MP4 video; the frames are in 'anim'"},
      {"empty", "ffmpeg's video holds 0 of the 2 frames; the frames are in 'anim'"},
  };
  for (const Failure& f : failures) {
    std::filesystem::remove(dir / "clip.mp4");
    const RunResult failed = run_render(args, dir.path(), Launch{path, {{"FAKE_MODE", f.mode}}, false, {}});
    EXPECT_EQ(failed.exit_code, 1) << f.mode;
    EXPECT_NE(failed.err.find(f.says), std::string::npos) << failed.err;
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"anim", "bin", "ffmpeg-args"})) << f.mode;
    EXPECT_TRUE(hidden_files_under(dir.path()).empty()) << f.mode;
  }
}

// The video's destination is checked before a frame is rendered: the frame
// folder the run would have made is not left behind either.
TEST(RenderProgram, VideoDestinationIsCheckedBeforeRendering) {
  ScratchDir dir;
  const std::string path = write_fake_ffmpeg(dir);
  std::filesystem::create_directories(dir.path() / "a-folder");
  struct Case {
    std::string video;
    int exit_code;
    std::string says;
  };
  const Case cases[] = {
      {"a-folder", 1, "cannot write 'a-folder': it is a folder, not a file"},
      {"missing/v.mp4", 1, "the folder 'missing' does not exist"},
      {"anim/frame_0001.png", 2, "is one of the frames"},
  };
  for (const Case& c : cases) {
    const RunResult run =
        run_render({"--frames", "3", "--out-dir", "anim", "--video", c.video}, dir.path(), path);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.video;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a-folder", "bin"})) << c.video;
  }
}

std::optional<std::string> installed(const std::string& program) {
  for (const char* folder : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    const std::string candidate = std::string(folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// The real encoder, with names that ffmpeg would otherwise read as an
// option, a protocol, or a frame-number pattern.
TEST(RenderProgram, RealFfmpegMakesAWholeVideoWhateverTheNames) {
  if (!installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed (tools/install-deps.sh installs it)";
  const std::optional<std::string> ffprobe = installed("ffprobe");
  ScratchDir dir;
  struct Case {
    std::string out_dir, video, folder_to_make;
  };
  const Case cases[] = {
      {"plain", "clip.mp4", ""},
      {"100%d frames", "100%d.mp4", ""},
      {"anim", "-dir/x.mp4", "-dir"},
      {"anim", "file:sub/v.mp4", "file:sub"},
      {"anim", "http://v.mp4", "http:"},
  };
  for (const Case& c : cases) {
    if (!c.folder_to_make.empty()) std::filesystem::create_directories(dir.path() / c.folder_to_make);
    const RunResult run = run_render({"--frames", "3", "--out-dir", c.out_dir, "--video", c.video}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << c.video << ": " << run.err;
    // A name a shell would split or read otherwise is quoted in the report.
    EXPECT_EQ(run.out, "wrote 3 frames to " + outputs::quoted_if_needed(c.out_dir) +
                           " (frame_0000.png ... frame_0002.png)\nwrote " + outputs::quoted_if_needed(c.video) + "\n");
    EXPECT_EQ(video_frames(dir / c.video), 3u) << c.video;
    EXPECT_TRUE(hidden_files_under(dir.path()).empty()) << c.video;
    if (ffprobe) {
      const std::string counted = dir / "frames-counted";
      const std::string command = *ffprobe + " -v error -count_frames -select_streams v:0 -show_entries"
                                             " stream=nb_read_frames -of csv=p=0 'file:" + (dir / c.video) +
                                  "' > " + counted;
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
      EXPECT_EQ(read_text(counted), "3\n") << c.video;
      std::filesystem::remove(counted);
    }
  }
}

bool wait_for(const std::function<bool()>& ready) {
  for (int i = 0; i < 3000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// An interrupted export: status 128 + the signal, no temporary anywhere, no
// encoder left running, no video; the frames written so far stay, each
// whole.  The encoder that SIGINT stops is a wrapper script whose real
// encoder is a child of its own: that one is stopped too.
TEST(RenderProgram, InterruptsLeaveNoTemporaryAndNoEncoder) {
  for (const int signo : {SIGINT, SIGTERM, SIGHUP}) {
    for (const bool during_encoding : {false, true}) {
      const std::string what = std::string(strsignal(signo)) + (during_encoding ? " while encoding" : " while rendering");
      ScratchDir dir;
      const std::string path = write_fake_ffmpeg(dir);
      const std::string frames = during_encoding ? "2" : "9999";
      const std::string mode = signo == SIGINT ? "wrapper" : "slow";
      const Running running = start_render({"--frames", frames, "--out-dir", "anim", "--video", "clip.mp4"},
                                           dir.path(), Launch{path, {{"FAKE_MODE", mode}}, false, {}});
      ASSERT_GT(running.pid, 0);
      pid_t encoder = 0;
      if (during_encoding) {
        ASSERT_TRUE(wait_for([&] { return read_text(dir / "ffmpeg-pid").find('\n') != std::string::npos; }))
            << what;
        encoder = static_cast<pid_t>(std::stol(read_text(dir / "ffmpeg-pid")));
      } else {
        ASSERT_TRUE(wait_for([&] { return std::filesystem::exists(dir / "anim/frame_0001.png"); })) << what;
      }
      ::kill(running.pid, signo);
      const RunResult run = finish_render(running);
      EXPECT_EQ(run.exit_code, 128 + signo) << what;
      if (encoder > 0) {
        const bool orphan = ::kill(encoder, 0) == 0;
        EXPECT_FALSE(orphan) << what << ": the encoder is still running";
        if (orphan) ::kill(encoder, SIGKILL);
      }
      EXPECT_TRUE(hidden_files_under(dir.path()).empty()) << what;
      EXPECT_FALSE(std::filesystem::exists(dir / "clip.mp4")) << what;
      for (const auto& e : std::filesystem::directory_iterator(dir.path() / "anim")) {
        EXPECT_FALSE(image::read_png_file(e.path()).rgb.empty()) << what << ": " << e.path();
      }
    }
  }
}

// Runs `script` with sh, $S the scratch folder and $R the program, in a
// private mount namespace when `private_mounts`; each line it prints as
// "key value" becomes an entry of the result.
std::map<std::string, std::string> run_script(const ScratchDir& dir, const std::string& script, bool private_mounts) {
  std::ofstream(dir / "script.sh") << script;
  const std::string command = "S='" + dir.path().string() + "' R='" VELMORA_RENDER_PROGRAM "' " +
                              (private_mounts ? "unshare -m --propagation private " : "") + "sh " +
                              (dir / "script.sh") + " > " + (dir / "report") + " 2>" + (dir / "script.err");
  EXPECT_EQ(std::system(command.c_str()), 0) << read_text(dir / "script.err");
  std::map<std::string, std::string> report;
  std::istringstream lines(read_text(dir / "report"));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t space = line.find(' ');
    report[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
  }
  for (const char* name : {"script.sh", "report", "script.err"}) std::filesystem::remove(dir / name);
  return report;
}

std::string with_scratch(std::string text, const ScratchDir& dir) {
  for (std::size_t at; (at = text.find("$S")) != std::string::npos;) text.replace(at, 2, dir.path().string());
  return text;
}

// Shell text that waits (at most 10 s) for a temporary of the program's in
// folder $1: the destinations were examined and the frame is being
// rendered.
const std::string kAwaitTemporary =
    "await_temporary() {\n"
    "  i=0\n"
    "  while [ $i -lt 2000 ]; do\n"
    "    for f in \"$1\"/.*.tmp; do [ -e \"$f\" ] && return 0; done\n"
    "    i=$((i + 1)); sleep 0.005\n"
    "  done\n"
    "  return 1\n"
    "}\n";

// As root, in a private mount namespace: device nodes of our own (a null
// and a full one, and a standard-output link) in a tmpfs, a tiny tmpfs for
// a full disk, and a read-only bind mount.  The script reports each run's
// status; the mounts vanish with the namespace.
TEST(RenderProgram, DevicesFullDisksAndReadOnlyFoldersAsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to mount and make device nodes in a private namespace";
  ScratchDir dir;
  if (std::system(("unshare -m --propagation private true 2>" + (dir / "unshare.err")).c_str()) != 0) {
    GTEST_SKIP() << "unshare -m is not available here (no private mount namespace): " << read_text(dir / "unshare.err");
  }
  std::filesystem::remove(dir / "unshare.err");
  for (const char* folder : {"dev", "tiny", "ro", "ro-source", "logs", "flags", "swap"}) {
    std::filesystem::create_directories(dir.path() / folder);
  }
  const bool have_ffmpeg = installed("ffmpeg").has_value();
  struct Case {
    std::string key, args;  // args as shell words; $S is the scratch folder
    int exit_code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"null", "--out $S/dev/null", 0, ""},
      {"full", "--out $S/dev/full", 1, "cannot write '$S/dev/full': No space left on device"},
      {"full-with-file", "--out $S/good.png --raw $S/dev/full", 1, "No space left on device"},
      {"stdout-link", "--raw $S/dev/stdout >$S/logs/raw.bytes", 0, ""},
      {"json-full", "--bench --seconds 0.05 --json >$S/dev/full", 1, "cannot write standard output: No space left"},
      {"help-full", "--help >$S/dev/full", 1, "cannot write standard output: No space left on device"},
      {"version-full", "--version >$S/dev/full", 1, "cannot write standard output: No space left on device"},
      {"tiny-raw", "--raw $S/tiny/f.raw", 1, "cannot write '$S/tiny/f.raw': No space left on device"},
      {"read-only", "--out $S/ro/x.png", 1, "cannot write '$S/ro/x.png': the folder '$S/ro' is not writable (Read-only file system)"},
      // Files that can be written but not replaced, and a frames folder that
      // cannot be written: refused before anything is rendered or replaced.
      {"bind-pair", "--out $S/keep/a.png --raw $S/keep/b.raw", 1,
       "cannot write '$S/keep/b.raw': it is a mount point (a bind mount), which cannot be replaced"},
      {"ro-frames", "--frames 2 --out-dir $S/ro", 1, "cannot write into the folder '$S/ro': Read-only file system"},
      {"no-terminal", "--raw $S/dev/tty", 1, "cannot write '$S/dev/tty': No such device or address"},
  };
  std::string script =
      kAwaitTemporary +
      "set -u\n"
      "mount -t tmpfs -o size=1m tmpfs $S/dev\n"
      "mknod -m 666 $S/dev/null c 1 3 && mknod -m 666 $S/dev/full c 1 7\n"
      "ln -s /proc/self/fd/1 $S/dev/stdout\n"
      "mount -t tmpfs -o size=16k tmpfs $S/tiny\n"
      "mount --bind $S/ro-source $S/ro && mount -o remount,bind,ro $S/ro\n"
      "mknod -m 666 $S/dev/tty c 5 0\n"
      "mkdir $S/keep && printf old > $S/keep/a.png && printf old > $S/keep/b.raw && printf src > $S/bind-source\n"
      "mount --bind $S/bind-source $S/keep/b.raw\n"
      // chattr needs a file system that keeps the flags; a tmpfs of a recent
      // kernel does, an older one does not, and the case is then left out.
      "mount -t tmpfs -o size=1m tmpfs $S/flags && printf old > $S/flags/i.png && printf old > $S/flags/a.png\n"
      "if chattr +i $S/flags/i.png 2>>$S/logs/chattr.err && chattr +a $S/flags/a.png 2>>$S/logs/chattr.err; then\n"
      "  $R --out $S/flags/i.png 2>$S/logs/immutable.err; echo \"immutable $?\"\n"
      "  $R --out $S/flags/a.png 2>$S/logs/append-only.err; echo \"append-only $?\"\n"
      "  echo \"flags $(cat $S/flags/i.png $S/flags/a.png)\"\n"
      "  chattr -i $S/flags/i.png; chattr -a $S/flags/a.png\n"
      "fi\n";
  std::vector<Case> all = cases;
  if (have_ffmpeg) {
    all.push_back({"tiny-video", "--frames 30 --out-dir $S/frames --video $S/tiny/v.mp4", 1,
                   "cannot write '$S/tiny/v.mp4': ffmpeg"});
    all.push_back({"bind-video", "--frames 2 --out-dir $S/new/frames --video $S/keep/b.raw", 1,
                   "cannot write '$S/keep/b.raw': it is a mount point"});
  }
  for (const Case& c : all) {
    // The terminal case runs in a session of its own, with no terminal.
    script += std::string(c.key == "no-terminal" ? "setsid -w " : "") + "$R " + c.args + " 2>$S/logs/" + c.key +
              ".err; echo \"" + c.key + " $?\"\n";
  }
  script +=
      // A device node put where a file was, while the frame is rendered, is
      // left as it is: only what was examined is replaced.
      "mount -t tmpfs -o size=64m tmpfs $S/swap && printf old > $S/swap/first.png && printf old > $S/swap/f.raw\n"
      "$R --initial --size 2048x2048 --out $S/swap/first.png --raw $S/swap/f.raw >/dev/null 2>$S/logs/swap.err & pid=$!\n"
      "await_temporary $S/swap && rm $S/swap/f.raw && mknod -m 666 $S/swap/f.raw c 1 3; wait $pid; echo \"swap $?\"\n"
      "echo \"swapped $(stat -c %F $S/swap/f.raw) $(cat $S/swap/first.png) $(ls -A $S/swap | tr '\\n' ' ')\"\n"
      "echo \"dev $(ls -A $S/dev | tr '\\n' ' ')\"\n"
      "echo \"kinds $(stat -c %F $S/dev/null $S/dev/full | tr '\\n' ',') $(stat -c %F $S/dev/stdout)\"\n"
      "echo \"tiny $(ls -A $S/tiny | tr '\\n' ' ')\"\n"
      "echo \"ro $(ls -A $S/ro | tr '\\n' ' ')\"\n";
  std::map<std::string, std::string> report = run_script(dir, script, true);
  for (const Case& c : all) {
    EXPECT_EQ(report[c.key], std::to_string(c.exit_code)) << c.key;
    const std::string err = read_text(dir / ("logs/" + c.key + ".err"));
    if (c.exit_code == 0) continue;
    EXPECT_NE(err.find(with_scratch(c.says, dir)), std::string::npos) << c.key << ": " << err;
    // One line of ours, last; before it, only the encoder may have spoken.
    const std::size_t ours = err.rfind("velmora-render: ");
    EXPECT_TRUE(ours == 0 || (c.key == "tiny-video" && ours != std::string::npos && err[ours - 1] == '\n'))
        << c.key << ": " << err;
    EXPECT_EQ(std::count(err.begin() + static_cast<long>(ours == std::string::npos ? 0 : ours), err.end(), '\n'), 1)
        << c.key << ": " << err;
  }
  // The devices are still devices, the link still a link; nothing was left
  // on the full disk or the read-only folder, and the run that failed on a
  // device wrote none of its other outputs.
  EXPECT_EQ(report["dev"], "full null stdout tty ");
  EXPECT_EQ(report["swap"], "1");
  EXPECT_EQ(report["swapped"], "character special file old f.raw first.png ");
  EXPECT_NE(read_text(dir / "logs/swap.err").find("it became a device while the output was made"), std::string::npos)
      << read_text(dir / "logs/swap.err");
  EXPECT_TRUE(read_text(dir / "keep/a.png") == "old");
  EXPECT_FALSE(std::filesystem::exists(dir / "new"));
  if (report.count("flags")) {
    EXPECT_EQ(report["immutable"], "1");
    EXPECT_EQ(report["append-only"], "1");
    EXPECT_EQ(report["flags"], "oldold");
    EXPECT_NE(read_text(dir / "logs/immutable.err").find("Operation not permitted (it is immutable)"), std::string::npos)
        << read_text(dir / "logs/immutable.err");
    EXPECT_NE(read_text(dir / "logs/append-only.err").find("it is append-only or immutable"), std::string::npos)
        << read_text(dir / "logs/append-only.err");
  }
  EXPECT_EQ(report["kinds"], "character special file,character special file, symbolic link");
  EXPECT_EQ(report["tiny"], "");
  EXPECT_EQ(report["ro"], "");
  EXPECT_FALSE(std::filesystem::exists(dir / "good.png"));
  EXPECT_EQ(std::filesystem::file_size(dir / "logs/raw.bytes"), 1'228'800u);
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// The runs of a script, one per case: each prints its status as "key N",
// and its standard error goes to $S/logs/key.err.
struct ScriptCase {
  std::string key, setup, run;  // shell text; $S is the scratch folder, $R the program
  int exit_code;
  std::string says;  // in its one line of error; empty: nothing on standard error
};

void expect_script_cases(const ScratchDir& dir, const std::vector<ScriptCase>& cases,
                         std::map<std::string, std::string>& report) {
  for (const ScriptCase& c : cases) {
    EXPECT_EQ(report[c.key], std::to_string(c.exit_code)) << c.key;
    const std::string err = read_text(dir / ("logs/" + c.key + ".err"));
    if (c.says.empty()) {
      EXPECT_EQ(err, "") << c.key;
      continue;
    }
    EXPECT_NE(err.find(with_scratch(c.says, dir)), std::string::npos) << c.key << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.key << ": " << err;
  }
}

std::string script_of(const std::vector<ScriptCase>& cases) {
  std::string script = "set -u\nmkdir -p $S/logs\n";
  for (const ScriptCase& c : cases) {
    script += c.setup + "\n(" + c.run + ") 2>$S/logs/" + c.key + ".err; echo \"" + c.key + " $?\"\n";
  }
  return script;
}

struct FileState {
  std::string text;
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  bool link = false;
};

FileState state_of(const std::string& path) {
  FileState s;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) s.link = S_ISLNK(info.st_mode);
  if (::stat(path.c_str(), &info) != 0) return s;
  s.text = read_text(path);
  s.mode = info.st_mode & 07777;
  s.owner = info.st_uid;
  s.group = info.st_gid;
  return s;
}

bool is_png(const std::string& text) { return text.rfind("\x89PNG", 0) == 0; }

// Replacing as the shell's `>` would write, and links as the kernel's
// protected-symlink rule would follow them, whatever this machine's own
// setting: as root, and as nobody (through setpriv), in folders of each
// kind.  Each case reads its result back from the file system.
TEST(RenderProgramOutputs, OtherUsersFilesLinksAndSharedFolders) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make files for another user and run as nobody";
  ScratchDir dir;
  // nobody runs its own copy of the program (the build folder may be
  // closed to it); $N runs it as nobody.
  const std::string setup =
      "cp $R $S/velmora-render && chmod 755 $S/velmora-render\n"
      "N='setpriv --reuid=65534 --regid=65534 --clear-groups '$S/velmora-render\n"
      "mkdir $S/own $S/shared $S/shared2 $S/nobody && chmod 1777 $S/shared $S/shared2\n"
      // Whatever the umask, nobody may pass through the scratch folder and
      // read the folder of root's files.
      "chmod 755 $S $S/own\n"
      "chown 65534:65534 $S/nobody\n"
      "printf victim > $S/own/victim; printf victim > $S/own/victim2\n";
  const std::vector<ScriptCase> cases = {
      {"planted-link", "ln -s $S/own/victim $S/shared/velmora.png && chown -h 65534 $S/shared/velmora.png",
       "cd $S/shared && $R", 1, "it is a link made by another user in the shared folder '.'"},
      {"planted-frame", "ln -s $S/own/victim2 $S/shared2/frame_0000.png && chown -h 65534 $S/shared2/frame_0000.png",
       "$R --frames 2 --out-dir $S/shared2", 1, "link made by another user"},
      {"own-link", "ln -s $S/own/target.png $S/shared/mine.png", "$R --initial --out $S/shared/mine.png", 0, ""},
      {"nobody-link", "ln -s $S/nobody/t.png $S/shared/n.png && chown -h 65534 $S/shared/n.png",
       "$N --initial --out $S/shared/n.png", 0, ""},
      {"read-only", "printf keep > $S/nobody/ro.png && chown 65534 $S/nobody/ro.png && chmod 444 $S/nobody/ro.png",
       "$N --initial --out $S/nobody/ro.png", 1, "Permission denied (it is read-only to you)"},
      {"private", "printf old > $S/nobody/private.png && chown 65534:65534 $S/nobody/private.png && chmod 600 $S/nobody/private.png",
       "$N --initial --out $S/nobody/private.png", 0, ""},
      {"owner-kept", "printf old > $S/own/theirs.png && chown 65534:65534 $S/own/theirs.png && chmod 640 $S/own/theirs.png",
       "$R --initial --out $S/own/theirs.png", 0, ""},
      {"theirs-in-shared", "printf keep > $S/shared/theirs.png && chown 65534 $S/shared/theirs.png",
       "$R --initial --out $S/shared/theirs.png", 1, "it belongs to another user, in the shared folder '$S/shared'"},
      {"roots-in-shared", "printf keep > $S/shared/roots.png && chmod 666 $S/shared/roots.png",
       "$N --initial --out $S/shared/roots.png", 1, "it belongs to another user"},
      {"closed-folder", "printf keep > $S/own/open.png && chmod 666 $S/own/open.png",
       "$N --initial --out $S/own/open.png", 1, "the folder '$S/own' is not writable (Permission denied)"},
  };
  auto report = run_script(dir, setup + script_of(cases), false);
  expect_script_cases(dir, cases, report);

  // What was refused is as it was; what was written went through the links
  // it was allowed to follow, and kept its owner and mode.
  EXPECT_TRUE(state_of(dir / "own/victim").text == "victim");
  EXPECT_TRUE(state_of(dir / "own/victim2").text == "victim");
  EXPECT_FALSE(std::filesystem::exists(dir / "shared2/frame_0001.png"));
  EXPECT_TRUE(state_of(dir / "shared/velmora.png").link);
  EXPECT_TRUE(state_of(dir / "shared/mine.png").link);
  EXPECT_TRUE(is_png(state_of(dir / "own/target.png").text));
  EXPECT_TRUE(is_png(state_of(dir / "nobody/t.png").text));
  const FileState read_only = state_of(dir / "nobody/ro.png");
  EXPECT_TRUE(read_only.text == "keep");
  EXPECT_EQ(read_only.mode, 0444u);
  const FileState private_file = state_of(dir / "nobody/private.png");
  EXPECT_TRUE(is_png(private_file.text));
  EXPECT_EQ(private_file.mode, 0600u);
  EXPECT_EQ(private_file.owner, 65534u);
  const FileState theirs = state_of(dir / "own/theirs.png");
  EXPECT_TRUE(is_png(theirs.text));
  EXPECT_EQ(theirs.mode, 0640u);
  EXPECT_EQ(theirs.owner, 65534u);
  EXPECT_EQ(theirs.group, 65534u);
  for (const char* kept : {"shared/theirs.png", "shared/roots.png", "own/open.png"}) {
    EXPECT_TRUE(state_of(dir / kept).text == "keep") << kept;
  }
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// SIGPIPE and SIGXFSZ end the write that caused them, not the program: a
// closed pipe on standard output is a quiet end with 141, a file past the
// size limit a failure with its reason, and neither leaves a temporary or
// the frame's other output.
TEST(RenderProgramOutputs, ClosedPipesAndFileSizeLimits) {
  ScratchDir dir;
  const std::vector<ScriptCase> cases = {
      {"pipe", "", "bash -c '\"$R\" --initial --raw - --out \"$S/p.png\" | head -c 10 > \"$S/head.out\"; exit ${PIPESTATUS[0]}'",
       141, ""},
      {"size-limit", "", "ulimit -f 1000; $R --initial --raw $S/big.raw --out $S/beside.png", 1,
       "cannot write '$S/big.raw': File too large"},
  };
  auto report = run_script(dir, script_of(cases), false);
  expect_script_cases(dir, cases, report);
  EXPECT_EQ(read_text(dir / "logs/pipe.err"), "");
  EXPECT_EQ(std::filesystem::file_size(dir / "head.out"), 10u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"head.out", "logs"}));
}

// Reports that say what is true.  A reader that went away once the files
// were in place does not hide them: the status is 141, and one line names
// what was written.  A folder sync that fails once the files are in place
// names them as in place and says what is not known (status 1: their
// durability is not confirmed).  A video on standard output is named so.
TEST(RenderProgramOutputs, ReportsSayWhatIsInPlace) {
  ScratchDir dir;
  const std::string bin = write_fake_ffmpeg(dir);
  const std::vector<ScriptCase> cases = {
      // The reader has gone before the program starts.
      {"reader-gone", "printf old > $S/a.png",
       "bash -c '(sleep 0.5; \"$R\" --initial --size 8x8 --out \"$S/a.png\") | true; exit ${PIPESTATUS[0]}'", 141,
       "velmora-render: standard output's reader has gone; written and in place all the same: $S/a.png"},
      {"sync-fails", "printf old > $S/b.png; printf old > $S/b.raw",
       "LD_PRELOAD='" VELMORA_FAILING_FOLDER_SYNC "' $R --initial --size 8x8 --out $S/b.png --raw $S/b.raw", 1,
       "velmora-render: wrote '$S/b.png' and '$S/b.raw', which are in place, but cannot confirm that they would "
       "survive a crash: syncing the folder '$S' failed (Input/output error)"},
  };
  auto report = run_script(dir, script_of(cases), false);
  expect_script_cases(dir, cases, report);
  EXPECT_TRUE(is_png(read_text(dir / "a.png")));
  EXPECT_TRUE(is_png(read_text(dir / "b.png")));
  EXPECT_EQ(read_raw(dir / "b.raw"), host_trace(initial_scene(), FrameSize{8, 8}));
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());

  // The video was going to the pipe: none is written, and the frames stay
  // (reported on standard error, as they were, and named again).
  const std::vector<ScriptCase> video_cases = {
      {"video-reader-gone", "",
       "PATH=\"$S/bin:$PATH\" bash -c '(sleep 0.5; \"$R\" --frames 2 --size 8x8 --out-dir \"$S/anim\" --video -) "
       "| true; exit ${PIPESTATUS[0]}'",
       141, ""}};
  report = run_script(dir, script_of(video_cases), false);
  EXPECT_EQ(report["video-reader-gone"], "141");
  EXPECT_EQ(read_text(dir / "logs/video-reader-gone.err"),
            with_scratch("wrote 2 frames to $S/anim (frame_0000.png ... frame_0001.png)\n"
                         "velmora-render: standard output's reader has gone; written and in place all the same: "
                         "2 frames in $S/anim\n",
                         dir));
  EXPECT_TRUE(is_png(read_text(dir / "anim/frame_0001.png")));
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());

  const RunResult video = run_render({"--frames", "2", "--size", "8x8", "--out-dir", "anim2", "--video", "-"},
                                     dir.path(), bin);
  EXPECT_EQ(video.exit_code, 0) << video.err;
  EXPECT_EQ(video.err, "wrote 2 frames to anim2 (frame_0000.png ... frame_0001.png)\nwrote standard output\n");
  EXPECT_EQ(video.out, read_text(dir / "bin/videos/2.mp4"));
}

// Names reach the terminal quoted as a shell reads them back, in reports
// and errors alike: no control character or stray byte of a name is
// written as it is, so a name can neither clear the screen, retitle the
// terminal nor forge a line.
TEST(RenderProgramOutputs, NamesAreShownSafely) {
  ScratchDir dir;
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string says;  // on standard output when it succeeds, else standard error
  };
  const std::vector<Case> cases = {
      {{"--initial", "--size", "8x8", "--out", "new\nline.png"}, 0,
       "wrote 'new'$'\\n''line.png' (8 x 8, initial scene)\n"},
      {{"--initial", "--size", "8x8", "--raw", "x\xff.raw"}, 0, "wrote 'x'$'\\377''.raw' (8 x 8, initial scene)\n"},
      {{"--initial", "--size", "8x8", "--raw", "it's.raw"}, 0, "wrote \"it's.raw\" (8 x 8, initial scene)\n"},
      {{"--frames", "1", "--size", "8x8", "--out-dir", "t\x1b]0;x\x07"}, 0,
       "wrote 1 frame to 't'$'\\033'']0;x'$'\\a' (frame_0000.png)\n"},
      {{"--initial", "--out", "gone\x1b[2J/a.png"}, 1, "velmora-render: cannot write 'gone'$'\\033''[2J/a.png': "},
      {{"--frames", "1", "--out-dir", "file\rforged"}, 1, "velmora-render: "},
      {{"--initial", "stray\x1b[2J"}, 2, "velmora-render: "},
  };
  std::ofstream(dir / "file\rforged") << "a file, not a folder";
  for (const Case& c : cases) {
    const RunResult run = run_render(c.args, dir.path());
    const std::string what = joined(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << what << run.err;
    const std::string& shown = c.exit_code == 0 ? run.out : run.err;
    if (c.exit_code == 0) {
      EXPECT_EQ(run.out, c.says) << what;
    } else {
      EXPECT_TRUE(run.err.starts_with(c.says)) << what << run.err;
    }
    // One line, and nothing in it for the terminal to act on.
    EXPECT_TRUE(std::count(shown.begin(), shown.end(), '\n') == 1 && shown.back() == '\n') << what << shown;
    EXPECT_TRUE(std::none_of(shown.begin(), shown.end() - 1,
                             [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f ||
                                                  static_cast<unsigned char>(ch) >= 0x80; }))
        << what << shown;
  }
  EXPECT_TRUE(is_png(read_text(dir / "new\nline.png")));
  EXPECT_TRUE(is_png(read_text(dir / "t\x1b]0;x\x07/frame_0000.png")));
}

// A failing exit that the program does not choose leaves nothing of its own
// either: memory that runs out in the host layer (whose failed checks end
// the program) or in the tool, each said in one line, and a descriptor limit
// so tight that an interrupt finds the run at every step in turn.
TEST(RenderProgramOutputs, FailingExitsLeaveNoTemporary) {
  ScratchDir dir;
  // Which of the two allocations fails first under each limit depends on
  // the machine; each is one line that says the memory ran out.
  const std::vector<ScriptCase> memory = {
      {"host-memory", "printf old > $S/keep.png",
       "ulimit -v 400000; $R --size 8192x8192 --out $S/keep.png --raw $S/big.raw", 1, "out of memory"},
      {"tool-memory", "", "ulimit -v 250000; $R --size 8192x8192 --out $S/keep.png --raw $S/big.raw", 1,
       "out of memory"},
  };
  std::string script = script_of(memory);
  for (int limit = 5; limit <= 14; ++limit) {
    const std::string n = std::to_string(limit);
    script += "printf old > $S/keep.png; rm -f $S/big.raw\n"
              "(ulimit -n " + n + "; exec $R --size 2048x2048 --out $S/keep.png --raw $S/big.raw) "
              ">$S/logs/fds.out 2>$S/logs/fds-" + n + ".err & p=$!; sleep 0.2; kill -TERM $p 2>>$S/logs/kill.err; "
              "wait $p; "
              "echo \"fds-" + n + " $? $(head -c 3 $S/keep.png) $(ls -A $S | grep -c '^\\.')\"\n";
  }
  auto report = run_script(dir, script, false);
  expect_script_cases(dir, memory, report);
  for (const ScriptCase& c : memory) {
    EXPECT_EQ(read_text(dir / ("logs/" + c.key + ".err")).find("std::bad_alloc"), std::string::npos) << c.key;
  }
  // SIGTERM, since a script may start its background jobs with SIGINT ignored.
  bool interrupted = false;
  for (int limit = 5; limit <= 14; ++limit) {
    const std::string key = "fds-" + std::to_string(limit);
    // Finished (0, the file replaced) or stopped (1 or 143, the file as it
    // was); never a temporary left.
    const std::string result = report[key];
    EXPECT_TRUE(result == "0 \x89PN 0" || result == "1 old 0" || result == "143 old 0")
        << key << ": " << result << " " << read_text(dir / ("logs/" + key + ".err"));
    interrupted = interrupted || result == "143 old 0";
  }
  EXPECT_TRUE(interrupted) << "no run lasted until the interrupt";
  EXPECT_TRUE(read_text(dir / "keep.png") == "old" || is_png(read_text(dir / "keep.png")));
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// One run at a time writes into a frames folder: a second fails at once,
// with a message, and writes nothing there.
TEST(RenderProgramOutputs, OneWriterPerAnimationFolder) {
  ScratchDir dir;
  const Running first = start_render({"--frames", "9999", "--out-dir", "anim"}, dir.path());
  ASSERT_TRUE(wait_for([&] { return std::filesystem::exists(dir / "anim/frame_0001.png"); }));
  const RunResult second = run_render({"--frames", "3", "--out-dir", "anim", "--size", "8x8"}, dir.path());
  ::kill(first.pid, SIGTERM);
  const RunResult first_result = finish_render(first);
  EXPECT_EQ(first_result.exit_code, 128 + SIGTERM);
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_EQ(second.err,
            "velmora-render: cannot write into the folder 'anim': another run is writing an animation there; wait "
            "for it to end or choose another folder\n");
  // Every frame there is the first run's, at its size.
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "anim")) {
    EXPECT_EQ(image::read_png_file(e.path()).width, 640) << e.path();
  }
}

// An encoder that never answers when asked for its version is given up on,
// before anything is made; a wrapper script's own child goes with it.
TEST(RenderProgramOutputs, SilentEncoderIsGivenUpOn) {
  for (const std::string mode : {"mute", "mute-wrapper"}) {
    ScratchDir dir;
    const std::string path = write_fake_ffmpeg(dir);
    const RunResult run = run_render({"--frames", "2", "--out-dir", "anim", "--video", "v.mp4"}, dir.path(),
                                     Launch{path, {{"FAKE_MODE", mode}}, false, {}});
    EXPECT_EQ(run.exit_code, 1) << mode;
    EXPECT_EQ(run.err,
              "velmora-render: --video needs ffmpeg, which did not answer within 5 s when asked for its version; "
              "nothing was rendered\n")
        << mode;
    if (mode == "mute-wrapper") {
      const std::string pid = read_text(dir / "ffmpeg-pid");
      ASSERT_NE(pid.find('\n'), std::string::npos);
      const pid_t child = static_cast<pid_t>(std::stol(pid));
      const bool orphan = ::kill(child, 0) == 0;
      EXPECT_FALSE(orphan) << "the wrapper's encoder is still running";
      if (orphan) ::kill(child, SIGKILL);
      std::filesystem::remove(dir / "ffmpeg-pid");
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"bin"}) << mode;
  }
}

// Folders: every folder a failed run made is removed, not only the last;
// one it did not make, or a link to a missing one, is never removed; a
// socket or a closed standard output is named as what it is.
TEST(RenderProgramOutputs, FoldersSocketsAndClosedStandardOutput) {
  ScratchDir dir;
  const std::string path = write_fake_ffmpeg(dir);
  std::filesystem::create_directories(dir.path() / "a-folder");
  std::filesystem::create_directories(dir.path() / "existing");
  std::filesystem::create_symlink("nowhere", dir / "dangling");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = dir / "socket";
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  struct Case {
    std::vector<std::string> args;
    bool close_stdout;
    std::string says;
  };
  const Case cases[] = {
      {{"--frames", "2", "--out-dir", "deep/er/anim", "--video", "a-folder"}, false, "it is a folder"},
      {{"--frames", "2", "--out-dir", "existing", "--video", "a-folder"}, false, "it is a folder"},
      {{"--frames", "2", "--out-dir", "dangling"}, false,
       "cannot create the folder 'dangling': 'dangling' is a link to a folder that does not exist"},
      {{"--frames", "2", "--out-dir", "dangling/anim"}, false, "is a link to a folder that does not exist"},
      {{"--initial", "--out", "socket"}, false, "cannot write 'socket': it is a socket, not a file"},
      {{"--initial", "--out", "/proc/self/fd/1"}, true,
       "cannot write standard output: it was closed when the program started"},
  };
  for (const Case& c : cases) {
    const RunResult run = run_render(c.args, dir.path(), Launch{path, {}, c.close_stdout, {}});
    EXPECT_EQ(run.exit_code, 1) << joined(c.args);
    EXPECT_EQ(run.err, "velmora-render: " + run.err.substr(16)) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << joined(c.args) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a-folder", "bin", "dangling", "existing", "socket"}))
        << joined(c.args);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "existing"));
  }
  ::close(sock);
}

std::string kind_of(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "missing";
  if (S_ISDIR(info.st_mode)) return "folder";
  if (S_ISLNK(info.st_mode)) return "link";
  if (S_ISFIFO(info.st_mode)) return "fifo";
  return S_ISREG(info.st_mode) ? "file" : "other";
}

// As root, another user's link to a folder planted in a shared sticky
// folder steers nothing, wherever it is in the name: not --out, --raw,
// --out-dir (existing or to be made below it) or --video, and not when
// reached through a link of root's own.  Links the rule allows are
// followed in any part of a name; a folder of mode 300 (writable, not
// readable) takes files as the shell's `>` would.
TEST(RenderProgramOutputs, LinksAnywhereInTheNameAsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to plant another user's link and run as nobody";
  ScratchDir dir;
  const std::string bin = write_fake_ffmpeg(dir);
  const std::string setup =
      "cp $R $S/velmora-render && chmod 755 $S/velmora-render\n"
      "N='setpriv --reuid=65534 --regid=65534 --clear-groups '$S/velmora-render\n"
      "export PATH=" + bin + ":$PATH\n"
      "chmod 755 $S\n"
      "mkdir $S/victim $S/shared $S/mine $S/nobody $S/nobody/w300 && chmod 1777 $S/shared\n"
      "printf victim > $S/victim/important.png\n"
      "ln -s $S/victim $S/shared/evil && chown -h 65534 $S/shared/evil\n"
      "ln -s $S/shared/evil $S/roots-link\n"
      "ln -s $S/mine $S/shared/own && ln -s $S/nobody $S/shared/theirs && chown -h 65534 $S/shared/theirs\n"
      "chown -R 65534:65534 $S/nobody && printf old > $S/nobody/w300/old.png && chown 65534 $S/nobody/w300/old.png\n"
      "chmod 300 $S/nobody/w300\n";
  const std::string planted = "it is a link made by another user in the shared folder '$S/shared', which is not followed";
  const std::vector<ScriptCase> cases = {
      {"out", "", "$R --initial --out $S/shared/evil/important.png", 1, planted},
      {"raw", "", "$R --initial --raw $S/shared/evil/../victim/x.raw", 1, planted},
      {"out-dir", "", "$R --frames 2 --out-dir $S/shared/evil", 1, planted},
      {"out-dir-below", "", "$R --frames 2 --out-dir $S/shared/evil/made/here", 1, planted},
      {"video", "", "$R --frames 1 --out-dir $S/frames --video $S/shared/evil/v.mp4", 1, planted},
      {"through-own-link", "", "$R --initial --out $S/roots-link/important.png", 1, planted},
      {"own-link", "", "$R --initial --out $S/shared/own/a.png", 0, ""},
      {"own-link-frames", "", "$R --frames 1 --out-dir $S/shared/own/anim", 0, ""},
      {"nobody-own-link", "", "$N --initial --out $S/shared/theirs/n.png", 0, ""},
      {"mode-300-new", "", "$N --initial --out $S/nobody/w300/new.png", 0, ""},
      {"mode-300-old", "", "$N --initial --raw $S/nobody/w300/old.png", 0, ""},
  };
  auto report = run_script(dir, setup + script_of(cases), false);
  expect_script_cases(dir, cases, report);
  ::chmod((dir / "nobody/w300").c_str(), 0755);

  // The victim's folder holds what it held; nothing was made through the
  // planted link, not even the folder the run wanted below it.
  EXPECT_TRUE(state_of(dir / "victim/important.png").text == "victim");
  EXPECT_EQ(std::filesystem::directory_iterator(dir.path() / "victim")->path().filename(), "important.png");
  EXPECT_FALSE(std::filesystem::exists(dir / "victim/made"));
  EXPECT_FALSE(std::filesystem::exists(dir / "frames"));
  EXPECT_TRUE(is_png(state_of(dir / "mine/a.png").text));
  EXPECT_TRUE(is_png(state_of(dir / "mine/anim/frame_0000.png").text));
  EXPECT_TRUE(is_png(state_of(dir / "nobody/n.png").text));
  EXPECT_TRUE(is_png(state_of(dir / "nobody/w300/new.png").text));
  const FileState old = state_of(dir / "nobody/w300/old.png");
  EXPECT_EQ(old.text.size(), 1'228'800u);
  EXPECT_EQ(old.owner, 65534u);
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// A name for a descriptor the program was given is written through that
// descriptor, in place: a log opened for appending (`2>>log.txt`) keeps its
// lines and gets the frame after them.  A descriptor that is not open, or
// open only for reading, is refused and its file left as it was.
TEST(RenderProgramOutputs, DescriptorsNamedAsFilesAreWrittenInPlace) {
  ScratchDir dir;
  const std::vector<ScriptCase> cases = {
      {"stderr", "printf 'line\\n' > $S/stderr.log", "$R --initial --raw /dev/stderr 2>>$S/stderr.log", 0, ""},
      {"dev-fd", "printf 'line\\n' > $S/dev-fd.log", "$R --initial --raw /dev/fd/5 5>>$S/dev-fd.log", 0, ""},
      {"proc-fd", "printf 'line\\n' > $S/proc-fd.log", "$R --initial --raw /proc/self/fd/5 5>>$S/proc-fd.log", 0, ""},
      {"link-to-fd", "printf 'line\\n' > $S/link.log && ln -s /proc/self/fd/6 $S/fd-link",
       "$R --initial --raw $S/fd-link 6>>$S/link.log", 0, ""},
      {"at-offset", "printf 'line\\n' > $S/offset.log", "$R --initial --raw /dev/fd/5 5>$S/offset.log", 0, ""},
      {"not-open", "", "$R --initial --raw /dev/fd/7", 1, "cannot write '/dev/fd/7': descriptor 7 is not open"},
      {"read-only", "printf 'line\\n' > $S/read.log", "$R --initial --raw /dev/fd/5 5<$S/read.log", 1,
       "cannot write '/dev/fd/5': descriptor 5 is open only for reading"},
  };
  auto report = run_script(dir, script_of(cases), false);
  // The frame goes after the lines already there, as the shell's `>>`
  // would put it, not over them.
  for (const char* log : {"stderr.log", "dev-fd.log", "proc-fd.log", "link.log"}) {
    const std::string text = read_text(dir / log);
    EXPECT_EQ(text.size(), 5u + 1'228'800u) << log;
    EXPECT_EQ(text.substr(0, 5), "line\n") << log;
  }
  EXPECT_EQ(read_text(dir / "offset.log").size(), 1'228'800u);
  EXPECT_EQ(read_text(dir / "read.log"), "line\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "fd-link"));
  expect_script_cases(dir, cases, report);
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// An entry that became something else while the frame was rendered (a
// folder, a link, a FIFO, or a folder where a new file was to be) is not
// what was examined: it is left as it is, with what it holds, the frame's
// other file is left as before, and the run fails with one line that says
// so and claims nothing written.
TEST(RenderProgramOutputs, EntriesThatChangeKindDuringTheRenderAreLeftAsTheyAre) {
  ScratchDir dir;
  struct Change {
    std::string key, before, change, kind, says;
  };
  const std::vector<Change> changes = {
      {"folder", "printf old > $S/folder/changed", "rm $S/folder/changed && mkdir $S/folder/changed && printf in > $S/folder/changed/in",
       "folder", "it became a folder while the output was made"},
      {"link", "printf old > $S/link/changed", "rm $S/link/changed && ln -s elsewhere $S/link/changed", "link",
       "it became a link while the output was made"},
      {"fifo", "printf old > $S/fifo/changed", "rm $S/fifo/changed && mkfifo $S/fifo/changed", "fifo",
       "it became a FIFO while the output was made"},
      {"new", "", "mkdir $S/new/changed", "folder", "it became a folder while the output was made"},
  };
  std::vector<ScriptCase> cases;
  for (const Change& c : changes) {
    const std::string folder = "$S/" + c.key;
    cases.push_back({c.key, "mkdir " + folder + " && printf 'old first' > " + folder + "/first.png\n" + c.before,
                     "$R --initial --size 2048x2048 --out " + folder + "/first.png --raw " + folder + "/changed >$S/logs/" +
                         c.key + ".out & pid=$!; await_temporary " + folder + " && " + c.change + "; wait $pid",
                     1, c.says});
  }
  auto report = run_script(dir, kAwaitTemporary + script_of(cases), false);
  expect_script_cases(dir, cases, report);
  for (const Change& c : changes) {
    EXPECT_EQ(kind_of(dir / (c.key + "/changed")), c.kind) << c.key;
    EXPECT_TRUE(read_text(dir / (c.key + "/first.png")) == "old first") << c.key;
    const std::string err = read_text(dir / ("logs/" + c.key + ".err"));
    EXPECT_NE(err.find("; '" + (dir / (c.key + "/first.png")) + "' was left as before"), std::string::npos) << err;
    EXPECT_EQ(read_text(dir / ("logs/" + c.key + ".out")), "") << c.key;
  }
  EXPECT_TRUE(read_text(dir / "folder/changed/in") == "in");
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// A replaced file keeps its extended attributes and its access list: a
// file that denied one user still denies it.  Root replaces it, nobody
// tries to read it.
TEST(RenderProgramOutputs, ReplacedFilesKeepTheirAttributesAndAccessList) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to read the file back as nobody";
  if (!installed("setfacl")) GTEST_SKIP() << "setfacl is not installed (tools/install-deps.sh installs acl)";
  ScratchDir dir;
  const std::string s = dir / "s.png";
  std::ofstream(s) << "old";
  ASSERT_EQ(::chmod(s.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(std::system(("setfacl -m u:nobody:--- " + s).c_str()), 0);
  if (::setxattr(s.c_str(), "user.note", "kept", 4, 0) != 0) GTEST_SKIP() << "no user attributes here: " << strerror(errno);
  // A folder whose default access list lets nobody write new files: a
  // private file without a list of its own is replaced by one without.
  std::filesystem::create_directories(dir.path() / "defaults");
  ASSERT_EQ(std::system(("setfacl -d -m u:nobody:rw " + (dir / "defaults")).c_str()), 0);
  std::ofstream(dir / "defaults/p.png") << "old";
  ASSERT_EQ(std::system(("setfacl -b " + (dir / "defaults/p.png") + " && chmod 600 " + (dir / "defaults/p.png")).c_str()), 0);
  const RunResult run = run_render({"--initial", "--out", "s.png", "--raw", "defaults/p.png"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(read_text(dir / "defaults/p.png").size(), 1'228'800u);
  EXPECT_EQ(state_of(dir / "defaults/p.png").mode, 0600u);
  EXPECT_NE(std::system(("getfacl -cp " + (dir / "defaults/p.png") + " 2>/dev/null | grep -q nobody").c_str()), 0);
  EXPECT_TRUE(is_png(read_text(s)));
  char note[16] = {};
  EXPECT_EQ(::getxattr(s.c_str(), "user.note", note, sizeof note), 4);
  EXPECT_STREQ(note, "kept");
  EXPECT_EQ(std::system(("getfacl -cp " + s + " 2>/dev/null | grep -qx 'user:nobody:---'").c_str()), 0);
  EXPECT_NE(std::system(("setpriv --reuid=65534 --regid=65534 --clear-groups cat " + s + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(state_of(s).mode, 0644u);
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// On a file system that cannot exchange names (bindfs, a FUSE file
// system): a set of files is still put in place whole or not at all, the
// old file kept under a second name until the set is complete; a file
// whose attributes cannot be kept there is refused before rendering.
TEST(RenderProgramOutputs, FileSystemsThatCannotExchangeNames) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to mount bindfs in a private mount namespace";
  if (!installed("bindfs")) GTEST_SKIP() << "bindfs is not installed (tools/install-deps.sh installs it)";
  if (!installed("setfacl")) GTEST_SKIP() << "setfacl is not installed (tools/install-deps.sh installs acl)";
  if (::access("/dev/fuse", F_OK) != 0) GTEST_SKIP() << "FUSE is not available here (no /dev/fuse)";
  ScratchDir dir;
  for (const char* folder : {"src/sub", "mnt", "ro-src", "ro", "logs"}) std::filesystem::create_directories(dir.path() / folder);
  const std::string setup =
      kAwaitTemporary +
      "set -u\n"
      "bindfs $S/src $S/mnt 2>$S/logs/bindfs.err || { echo 'bindfs failed'; exit 0; }\n"
      "bindfs -o xattr-ro $S/ro-src $S/ro 2>>$S/logs/bindfs.err || { echo 'bindfs failed'; exit 0; }\n"
      "printf 'old a' > $S/src/a.png && printf 'old b' > $S/src/sub/b.raw\n"
      "printf acl > $S/ro-src/acl.png && setfacl -m u:nobody:--- $S/ro-src/acl.png\n";
  const std::vector<ScriptCase> cases = {
      {"whole", "", "$R --initial --out $S/mnt/a.png --raw $S/mnt/sub/b.raw >/dev/null", 0, ""},
      {"later-fails", "printf 'old a' > $S/src/a.png && printf 'old b' > $S/src/sub/b.raw",
       "$R --initial --size 2048x2048 --out $S/mnt/a.png --raw $S/mnt/sub/b.raw & pid=$!; "
       "await_temporary $S/src/sub && rm $S/src/sub/b.raw && mkdir $S/src/sub/b.raw; wait $pid",
       1, "cannot write '$S/mnt/sub/b.raw': it became a folder while the output was made, so it was left as it is; "
          "'$S/mnt/a.png' was left as before"},
      {"attributes", "", "$R --initial --out $S/ro/acl.png", 1,
       "cannot write '$S/ro/acl.png': its extended attributes (its access list among them) cannot be kept"},
  };
  auto report = run_script(dir, setup + script_of(cases) + "fusermount -u $S/mnt; fusermount -u $S/ro\n", true);
  if (report.count("bindfs")) GTEST_SKIP() << "bindfs cannot mount here: " << read_text(dir / "logs/bindfs.err");
  expect_script_cases(dir, cases, report);
  EXPECT_TRUE(read_text(dir / "src/a.png") == "old a");
  EXPECT_EQ(kind_of(dir / "src/sub/b.raw"), "folder");
  EXPECT_TRUE(read_text(dir / "ro-src/acl.png") == "acl");
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

// Folders made for an animation: an interrupt before the first frame
// removes every one the run made, and two runs racing to make the same new
// folders end with one writing and the other told so by the lock, never
// "File exists".
TEST(RenderProgramOutputs, MadeFoldersUnderInterruptsAndRaces) {
  ScratchDir dir;
  const Running running = start_render({"--frames", "3", "--size", "4096x4096", "--out-dir", "new/nested/anim"}, dir.path());
  ASSERT_TRUE(wait_for([&] { return std::filesystem::exists(dir / "new/nested/anim"); }));
  ::kill(running.pid, SIGINT);
  const RunResult interrupted = finish_render(running);
  EXPECT_EQ(interrupted.exit_code, 130);
  EXPECT_TRUE(dir.entries().empty());

  for (int round = 0; round < 4; ++round) {
    const std::string out_dir = "race" + std::to_string(round) + "/a/b";
    const Running first = start_render({"--frames", "4", "--size", "256x256", "--out-dir", out_dir}, dir.path());
    const Running second = start_render({"--frames", "4", "--size", "256x256", "--out-dir", out_dir}, dir.path());
    for (const RunResult& run : {finish_render(first), finish_render(second)}) {
      if (run.exit_code == 0) continue;
      EXPECT_EQ(run.exit_code, 1) << run.err;
      EXPECT_NE(run.err.find("another run is writing an animation there"), std::string::npos) << run.err;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / out_dir), {}), 4) << out_dir;
  }
  EXPECT_TRUE(hidden_files_under(dir.path()).empty());
}

TEST(RenderProgram, BenchmarkJsonHasTheKeys) {
  ScratchDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string kernel;
    int threads;
  };
  const Case cases[] = {
      {{"--threads", "1", "--kernel", "scalar"}, "scalar", 1},
      {{"--threads", "2"}, "simd", 2},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--bench", "--seconds", "0.1", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = run_render(args, dir.path());
    ASSERT_EQ(run.exit_code, 0) << joined(args) << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);  // throws if it is not JSON
    ASSERT_TRUE(j.is_object());
    for (const char* key : {"median_ms", "p5_ms", "p95_ms", "fps", "frames", "threads", "backend", "kernel",
                            "lanes", "device"}) {
      EXPECT_TRUE(j.contains(key)) << key;
    }
    EXPECT_TRUE(j["median_ms"].is_number());
    EXPECT_LE(j["p5_ms"].get<double>(), j["median_ms"].get<double>());
    EXPECT_LE(j["median_ms"].get<double>(), j["p95_ms"].get<double>());
    EXPECT_GE(j["frames"].get<int>(), 5);
    EXPECT_EQ(j["threads"].get<int>(), c.threads);
    EXPECT_EQ(j["kernel"].get<std::string>(), c.kernel);
    EXPECT_EQ(j["backend"].get<std::string>(), "cpu");
    EXPECT_GE(j["lanes"].get<int>(), 1);
    // The roofline is the kernel's that ran, at its width.
    EXPECT_EQ(j["roofline_lanes"], j["lanes"]);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_TRUE(dir.entries().empty());
  }

  const RunResult text = run_render({"--bench", "--seconds", "0.05"}, dir.path());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  for (const char* needle : {"fps:", "median", "kernel", "read-back", "upload", "threads:"}) {
    EXPECT_NE(text.out.find(needle), std::string::npos) << needle << " in\n" << text.out;
  }
}

// The side-by-side form: every kernel on one thread and on all, each with its own figures,
// and the back-end left as it was found for nothing else to see.
TEST(RenderProgram, BenchmarkComparisonCoversEveryKernelAndThreadCount) {
  ScratchDir dir;
  const RunResult run = run_render({"--bench", "--compare", "--seconds", "0.2", "--json"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const nlohmann::json j = nlohmann::json::parse(run.out);
  ASSERT_TRUE(j["configs"].is_array());
  std::vector<std::pair<std::string, int>> seen;
  for (const nlohmann::json& c : j["configs"]) {
    seen.emplace_back(c["kernel"].get<std::string>(), c["threads"].get<int>());
    EXPECT_GE(c["frames"].get<int>(), 5);
    EXPECT_LE(c["p5_ms"].get<double>(), c["median_ms"].get<double>());
    EXPECT_LE(c["median_ms"].get<double>(), c["p95_ms"].get<double>());
    EXPECT_EQ(c["lanes"].get<int>() > 1, c["kernel"] != "scalar");
  }
  const int all = seen.back().second;
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{
                      {"simd", 1}, {"simd", all}, {"scalar", 1}, {"scalar", all}}));

  const RunResult text = run_render({"--bench", "--compare", "--seconds", "0.1"}, dir.path());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("vs scalar"), std::string::npos) << text.out;
}

TEST(RenderProgram, HelpAndVersion) {
  ScratchDir dir;
  const RunResult help = run_render({"--help"}, dir.path());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--bench"), std::string::npos);
  EXPECT_NE(help.out.find("--verify"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const RunResult version = run_render({"--version"}, dir.path());
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("velmora-render ") + VELMORA_VERSION + "\n");
  EXPECT_TRUE(dir.entries().empty());
}

// Frame sizes other than the window's.

// Every size the kernel's grid covers is rendered whole: the frame equals the
// host trace at that size word for word, in the raw dump, the PNG and an
// animation's frames alike.
TEST(RenderProgramSizes, FramesOfAnySizeEqualTheHostTrace) {
  struct Case {
    FrameSize size;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {{8, 8}, {"--kernel", "scalar"}},
      {{320, 240}, {}},
      {{200, 600}, {"--threads", "1"}},  // taller than wide
      {{1280, 960}, {}},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--clock", "2.5", "--size", frame_size_text(c.size), "--raw", dir / "f.raw",
                                     "--out", dir / "f.png"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = run_render(args, dir.path());
    ASSERT_EQ(run.exit_code, 0) << joined(args) << run.err;
    EXPECT_NE(run.out.find("(" + std::to_string(c.size.width) + " x " + std::to_string(c.size.height)),
              std::string::npos)
        << run.out;
    const std::vector<std::uint32_t> expected = host_trace(scene_at_clock(2.5f), c.size);
    EXPECT_EQ(first_difference(read_raw(dir / "f.raw"), expected), -1) << joined(args);
    EXPECT_EQ(image::read_png_file(dir / "f.png"), image::picture_of_frame(expected, c.size.width, c.size.height))
        << joined(args);
  }

  const FrameSize small{64, 48};
  const RunResult anim = run_render({"--frames", "2", "--out-dir", dir / "anim", "--size", "64x48"}, dir.path());
  ASSERT_EQ(anim.exit_code, 0) << anim.err;
  const std::vector<float> clocks = animation_clocks(2, 60.0f);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(image::read_png_file(dir.path() / "anim" / frame_file_name(k, 2)),
              image::picture_of_frame(host_trace(scene_at_clock(clocks[static_cast<std::size_t>(k)]), small),
                                      small.width, small.height))
        << "frame " << k;
  }
}

// Every mistake of usage the parser knows, made to the whole program: one
// line on standard error, status 2, nothing on standard output and nothing
// written in the folder it runs in.
TEST(RenderProgram, UsageMistakesAreRefusedBeforeAnythingIsWritten) {
  ScratchDir dir;
  for (const UsageMistake& c : usage_mistakes()) {
    const RunResult run = run_render(c.args, dir.path());
    EXPECT_EQ(run.exit_code, 2) << joined(c.args) << run.err;
    EXPECT_EQ(run.err.rfind("velmora-render: ", 0), 0u) << joined(c.args) << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << joined(c.args) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined(c.args) << run.err;
    EXPECT_EQ(run.out, "") << joined(c.args);
    EXPECT_TRUE(dir.entries().empty()) << joined(c.args);
  }
}

// The benchmark's sizes share one host-layer context, made again at each
// switch: every frame after a resize is whole, and lit by the materials.
TEST(RenderProgramSizes, ResizedRendererMakesEachSizeWhole) {
  const SceneRecords scene = scene_at_clock(1.7f);
  HostLayerRenderer renderer(FrameSize{64, 48});
  for (const FrameSize size : {FrameSize{128, 96}, FrameSize{64, 48}, FrameSize{64, 48}, FrameSize{8, 16}}) {
    renderer.resize(size);
    ASSERT_EQ(renderer.size(), size);
    std::vector<std::uint32_t> pixels(size.pixel_count());
    renderer.render(scene, pixels);
    EXPECT_EQ(first_difference(pixels, host_trace(scene, size)), -1) << frame_size_text(size);
  }
}

// Resizing makes a new frame buffer and nothing else: after many switches
// the device holds what one context of the last size holds.
TEST(RenderProgramSizes, ResizingKeepsDeviceMemoryToOneContext) {
  HostLayerRenderer renderer(FrameSize{64, 48});
  const cpurt::AllocationStats one_context = cpurt::allocation_stats();
  for (int i = 0; i < 100; ++i) renderer.resize(i % 2 == 0 ? FrameSize{128, 96} : FrameSize{64, 48});
  const cpurt::AllocationStats after = cpurt::allocation_stats();
  EXPECT_EQ(after.bytes, one_context.bytes);
  EXPECT_EQ(after.count, one_context.count);
}

// The host layer holds one context in its globals: a second renderer while
// one is live is refused before it touches them, and the first renders on.
TEST(RenderProgramSizes, ASecondLiveRendererIsRefused) {
  const SceneRecords scene = scene_at_clock(0.4f);
  const FrameSize size{64, 48};
  {
    HostLayerRenderer first(size);
    EXPECT_THROW(HostLayerRenderer second(FrameSize{8, 8}), std::logic_error);
    std::vector<std::uint32_t> pixels(size.pixel_count());
    first.render(scene, pixels);
    EXPECT_EQ(first_difference(pixels, host_trace(scene, size)), -1);
  }
  HostLayerRenderer after_the_first(FrameSize{8, 8});
  EXPECT_EQ(after_the_first.size(), (FrameSize{8, 8}));
}

// The benchmark at several sizes: one row per size, in the order given, and
// the comparison at a size of its own.
TEST(RenderProgramSizes, BenchmarkMeasuresEachSize) {
  ScratchDir dir;
  const RunResult run =
      run_render({"--bench", "--seconds", "0.05", "--json", "--size", "64x48,128x96", "--size", "32x16"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const nlohmann::json j = nlohmann::json::parse(run.out);
  ASSERT_EQ(j["sizes"].size(), 3u) << run.out;
  const std::vector<std::pair<int, int>> expected = {{64, 48}, {128, 96}, {32, 16}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const nlohmann::json& row = j["sizes"][i];
    EXPECT_EQ(row["width"].get<int>(), expected[i].first);
    EXPECT_EQ(row["height"].get<int>(), expected[i].second);
    EXPECT_EQ(row["pixels"].get<int>(), expected[i].first * expected[i].second);
    EXPECT_GE(row["frames"].get<int>(), 5);
    EXPECT_LE(row["p5_ms"].get<double>(), row["median_ms"].get<double>());
  }
  EXPECT_EQ(j["backend"], "cpu");

  const RunResult text = run_render({"--bench", "--seconds", "0.05", "--size", "64x48,128x96"}, dir.path());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("\n   128x96     12288 "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("4.00x"), std::string::npos) << text.out;

  const RunResult compare =
      run_render({"--bench", "--compare", "--seconds", "0.05", "--json", "--size", "64x48"}, dir.path());
  ASSERT_EQ(compare.exit_code, 0) << compare.err;
  const nlohmann::json c = nlohmann::json::parse(compare.out);
  EXPECT_EQ(c["width"].get<int>(), 64);
  EXPECT_EQ(c["height"].get<int>(), 48);
  EXPECT_EQ(c["configs"].size(), 4u);  // two kernels, each on one thread and on all
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace
}  // namespace render_tool
