// Whole-program tests of velmora-render: the built program is run with
// command lines as a user would type them, and its files, messages and exit
// statuses are checked.  Frames are compared word for word with the host
// trace of the same scene.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "kernel/host_scene.h"
#include "tools/render/animation_export.h"
#include "tools/render/frame_image.h"
#include "tools/render/render_scene.h"
#include "tools/render/scratch_dir.h"

namespace render_tool {
namespace {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the program in folder `cwd` with `args`; `path`, when given, replaces
// PATH in its environment.
RunResult run_render(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                     const std::optional<std::string>& path = std::nullopt) {
  const std::filesystem::path capture =
      std::filesystem::temp_directory_path() / ("velmora-render-capture-" + std::to_string(::getpid()));
  std::filesystem::create_directories(capture);
  const std::string out_file = (capture / "stdout").string();
  const std::string err_file = (capture / "stderr").string();

  std::vector<std::string> argv_text = {VELMORA_RENDER_PROGRAM};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    if (path && std::string(*e).rfind("PATH=", 0) == 0) continue;
    env_text.emplace_back(*e);
  }
  if (path) env_text.push_back("PATH=" + *path);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);

  RunResult result;
  if (spawned != 0) {
    result.err = "cannot start the program";
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_text(out_file);
  result.err = read_text(err_file);
  std::filesystem::remove_all(capture);
  return result;
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

// The PNG as top-first rows of red, green, blue; empty if it does not decode
// to a 640 x 480 picture.
std::vector<std::uint8_t> read_png_rgb(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  if (image.width != kFrameWidth || image.height != kFrameHeight) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  return rgb;
}

// The host trace of the frame the tool should make of `scene`.
std::vector<std::uint32_t> host_trace(const SceneRecords& scene) {
  HostScene host;
  host.set_spheres(scene.spheres, kInitialSphereCount);
  host.set_materials(scene.materials, kInitialMaterialCount);
  host.light_position = scene.lights[0].position;
  std::vector<std::uint32_t> words(kFramePixels);
  trace_frame_scalar(host.view(), kFrameWidth, kFrameHeight, words.data());
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
      {{"--initial"}, initial_scene_records()},
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
  ASSERT_EQ(words.size(), static_cast<std::size_t>(kFramePixels));
  EXPECT_EQ(read_png_rgb(dir / "pic.png"), frame_rgb_top_down(words, kFrameWidth, kFrameHeight));

  // The picture is not upside down: the lit floor is at the bottom of the
  // image, and the black background at the top-left corner.
  const std::vector<std::uint8_t> rgb = read_png_rgb(dir / "pic.png");
  const auto pixel = [&](int x, int y_from_top) { return rgb.data() + 3 * (y_from_top * kFrameWidth + x); };
  EXPECT_GT(pixel(320, 475)[0], 40);
  EXPECT_EQ(pixel(320, 475)[0], pixel(320, 475)[2]);  // white floor: grey
  EXPECT_EQ(pixel(5, 5)[0] + pixel(5, 5)[1] + pixel(5, 5)[2], 0);
}

TEST(RenderProgram, DefaultOutputIsVelmoraPngOfTheFirstViewerFrame) {
  ScratchDir dir;
  const RunResult run = run_render({}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"velmora.png"}));
  EXPECT_EQ(read_png_rgb(dir / "velmora.png"),
            frame_rgb_top_down(host_trace(scene_at_clock(first_viewer_clock())), kFrameWidth, kFrameHeight));
}

TEST(RenderProgram, AnimationWritesNumberedFramesAtTheClockSteps) {
  ScratchDir dir;
  const int frames = 4;
  const float rate = 30.0f;
  const RunResult run = run_render(
      {"--frames", "4", "--rate", "30", "--out-dir", dir / "anim", "--kernel", "scalar"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");  // standard error is not a terminal: no progress bar

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
  std::vector<std::uint8_t> previous;
  for (int k = 0; k < frames; ++k) {
    const std::vector<std::uint8_t> rgb = read_png_rgb(dir.path() / "anim" / frame_file_name(k, frames));
    const float clock = 1.0f + static_cast<float>(k + 1) * 0.5f / rate;
    EXPECT_NEAR(clocks[static_cast<std::size_t>(k)], clock, 1e-6f);
    EXPECT_EQ(rgb, frame_rgb_top_down(host_trace(scene_at_clock(clocks[static_cast<std::size_t>(k)])),
                                      kFrameWidth, kFrameHeight))
        << "frame " << k;
    EXPECT_NE(rgb, previous) << "frame " << k;
    previous = rgb;
  }
}

// Mistakes: one line on standard error, the right status, and nothing left
// in the folder: no picture, no frame folder, no temporary.
TEST(RenderProgram, MistakesLeaveNothingBehind) {
  ScratchDir dir;
  std::ofstream(dir / "plain-file") << "x";
  std::filesystem::create_directories(dir.path() / "empty-bin");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string mentions;
  };
  const Case cases[] = {
      {{"--bogus"}, 2, "--bogus"},
      {{"--clock", "abc"}, 2, "'abc' is not a finite number"},
      {{"--frames", "-2", "--out-dir", dir / "anim"}, 2, "'-2' is out of range"},
      {{"--kernel", "avx"}, 2, "avx"},
      {{"--bench", "--compare", "--threads", "2"}, 2, "--compare"},
      {{"--compare"}, 2, "--compare needs --bench"},
      {{"--out", dir / "plain-file/x.png"}, 1, "plain-file/x.png"},
      {{"--raw", dir / "no-such-folder/x.raw"}, 1, "No such file or directory"},
      {{"--out", dir / "good.png", "--raw", dir / "no-such-folder/x.raw"}, 1, "no-such-folder/x.raw"},
      {{"--frames", "2", "--out-dir", dir / "plain-file/anim"}, 1, "cannot create the folder"},
      {{"--frames", "2", "--out-dir", dir / "anim", "--video", dir / "clip.mp4"}, 1, "ffmpeg"},
  };
  for (const Case& c : cases) {
    const RunResult run = run_render(c.args, dir.path(), dir / "empty-bin");
    EXPECT_EQ(run.exit_code, c.exit_code) << joined(c.args) << run.err;
    EXPECT_EQ(run.err.rfind("velmora-render: ", 0), 0u) << joined(c.args) << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << joined(c.args) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined(c.args) << run.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"empty-bin", "plain-file"})) << joined(c.args);
  }
}

// ffmpeg is not installed here, so a stand-in records how it was called and
// writes (or fails to write) the video.
TEST(RenderProgram, VideoIsEncodedByFfmpegFromThePath) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "bin");
  const std::string fake = dir / "bin/ffmpeg";
  {
    std::ofstream script(fake);
    script << "#!/bin/sh\n"
              "printf '%s\\n' \"$@\" > \""
           << (dir / "ffmpeg-args")
           << "\"\n"
              "[ -n \"$FAIL\" ] && exit 3\n"
              "for last; do :; done\n"
              "echo 'fake video' > \"$last\"\n";
  }
  ::chmod(fake.c_str(), 0755);
  const std::string path = (dir / "bin") + ":/usr/bin:/bin";

  const RunResult run =
      run_render({"--frames", "2", "--rate", "24", "--out-dir", dir / "anim", "--video", dir / "clip.mp4"},
                 dir.path(), path);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(read_text(dir / "clip.mp4"), "fake video\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"anim", "bin", "clip.mp4", "ffmpeg-args"}));
  const std::string args = read_text(dir / "ffmpeg-args");
  for (const std::string needle :
       {"-framerate\n24\n", "-start_number\n0\n", "anim/frame_%04d.png\n", "-frames:v\n2\n"}) {
    EXPECT_NE(args.find(needle), std::string::npos) << needle << " in\n" << args;
  }

  // A failing encoder: status 1, one line of ours, no video and no temporary.
  std::filesystem::remove(dir / "clip.mp4");
  ::setenv("FAIL", "1", 1);
  const RunResult failed =
      run_render({"--frames", "2", "--out-dir", dir / "anim", "--video", dir / "clip.mp4"}, dir.path(), path);
  ::unsetenv("FAIL");
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_NE(failed.err.find("ffmpeg failed (exit status 3)"), std::string::npos) << failed.err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"anim", "bin", "ffmpeg-args"}));
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
    EXPECT_TRUE(dir.entries().empty());
  }

  const RunResult text = run_render({"--bench", "--seconds", "0.05"}, dir.path());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  for (const char* needle : {"fps:", "median", "kernel", "read-back", "upload", "threads:"}) {
    EXPECT_NE(text.out.find(needle), std::string::npos) << needle << " in\n" << text.out;
  }
}

// The side-by-side form: all four configurations, each with its own figures,
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
                      {"scalar", 1}, {"scalar", all}, {"simd", 1}, {"simd", all}, {"stages", 1}, {"stages", all}}));

  const RunResult text = run_render({"--bench", "--compare", "--seconds", "0.1"}, dir.path());
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("vs scalar"), std::string::npos) << text.out;
}

TEST(RenderProgram, HelpAndVersion) {
  ScratchDir dir;
  const RunResult help = run_render({"--help"}, dir.path());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--bench"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const RunResult version = run_render({"--version"}, dir.path());
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("velmora-render ") + VELMORA_VERSION + "\n");
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace
}  // namespace render_tool
