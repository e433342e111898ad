// Whole-program tests of velmora-render's scene files: bad files refused
// with one line and exit 2, nothing rendered or written; the built-in
// scene's dump read back giving its frames word for word.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support/program_run.h"
#include "test_support/scratch_dir.h"
#include "tools/render/scene_file.h"

namespace render_tool {
namespace {

using outputs::ScratchDir;

using test_support::file_text;
using test_support::ProgramRun;
using test_support::write_text;

// Runs the program in `folder` with standard input from the file `input`
// (none: an empty one).
ProgramRun run_render(const std::vector<std::string>& args, const ScratchDir& folder, const std::string& input = "") {
  test_support::Launch launch;
  launch.stdin_file = input;
  return test_support::run_program(VELMORA_RENDER_PROGRAM, args, folder.path(), launch);
}

// A valid scene with one sphere, one material and the light, in which
// `replace` swaps one piece of text for another.
std::string one_sphere_scene(const std::string& from = "", const std::string& to = "") {
  std::string text =
      R"({"spheres": [{"center": [1.0, 0.5, -6.0], "radius": 1.0, "material": 0}],
 "materials": [{"color": [0, 1, 0, 1], "ambient": 0.05, "diffuse": 0.4, "specular": 0.55,
                "shininess": 80, "reflection": 0.75, "transparency": 0, "refraction_index": -1}],
 "light": {"position": [-1.5, 2.0, -4.0]}}
)";
  if (!from.empty()) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
  }
  return text;
}

std::string many(const std::string& item, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i == 0 ? "" : ", ") + item;
  return text;
}

const std::string kSphere = R"({"center": [0, 0, -5], "radius": 1, "material": 0})";
const std::string kMaterial =
    R"({"color": [1, 1, 1, 1], "ambient": 0, "diffuse": 1, "specular": 0, "shininess": 1, "reflection": 0, "transparency": 0, "refraction_index": 1})";

TEST(SceneFiles, BadFilesAreRefusedWithOneLineAndNothingWritten) {
  struct Case {
    const char* what;
    std::string text;       // the file's contents (unused by the kinds below)
    std::string kind;       // "" a file, "folder", "fifo", "large", "stdin"
    std::string expected;   // the line after "velmora-render: "
  };
  const Case cases[] = {
      {"syntax", one_sphere_scene("\"radius\": 1.0,", "\"radius\": 1.0"), "", "scene.json:1:66: syntax error: "},
      {"syntax on a later line", one_sphere_scene("\"shininess\": 80", "\"shininess\": 8O"), "",
       "scene.json:3:31: syntax error: "},
      {"not JSON at all", "spheres = 4\n", "", "scene.json:1:1: syntax error: "},
      {"missing field", one_sphere_scene(", \"radius\": 1.0", ""), "", "scene.json: $.spheres[0].radius: is missing"},
      {"missing part", one_sphere_scene(R"(,
 "light": {"position": [-1.5, 2.0, -4.0]})", ""), "", "scene.json: $.light: is missing"},
      {"unknown field", one_sphere_scene("\"material\": 0", "\"material\": 0, \"colour\": 1"), "",
       "scene.json: $.spheres[0].colour: is not a field of a sphere"},
      {"unknown top-level field", one_sphere_scene("{\"spheres\"", "{\"camera\": 1, \"spheres\""), "",
       "scene.json: $.camera: is not a field of the scene"},
      {"wrong type", one_sphere_scene("\"radius\": 1.0", "\"radius\": \"1.0\""), "",
       "scene.json: $.spheres[0].radius: must be a number, not a string"},
      {"short vector", one_sphere_scene("[1.0, 0.5, -6.0]", "[1.0, 0.5]"), "",
       "scene.json: $.spheres[0].center: must be an array of 3 numbers, not an array of 2"},
      {"not an object", "[1, 2]", "", "scene.json: $: must be an object, not an array of 2"},
      {"too many spheres", one_sphere_scene(R"({"center": [1.0, 0.5, -6.0], "radius": 1.0, "material": 0})", many(kSphere, 33)), "",
       "scene.json: $.spheres: holds 33 spheres, more than the 32 the renderer's store has room for"},
      {"too many materials",
       one_sphere_scene(R"({"color": [0, 1, 0, 1], "ambient": 0.05, "diffuse": 0.4, "specular": 0.55,
                "shininess": 80, "reflection": 0.75, "transparency": 0, "refraction_index": -1})",
                        many(kMaterial, 33)),
       "", "scene.json: $.materials: holds 33 materials, more than the 32 the renderer's store has room for"},
      {"material with no record", one_sphere_scene("\"material\": 0", "\"material\": 1"), "",
       "scene.json: $.spheres[0].material: names material 1, but the scene has materials 0 to 0"},
      {"negative material", one_sphere_scene("\"material\": 0", "\"material\": -1"), "",
       "scene.json: $.spheres[0].material: names material -1, but the scene has materials 0 to 0"},
      {"zero radius", one_sphere_scene("\"radius\": 1.0", "\"radius\": 0"), "",
       "scene.json: $.spheres[0].radius: must be positive, not 0"},
      {"negative radius", one_sphere_scene("\"radius\": 1.0", "\"radius\": -2.5"), "",
       "scene.json: $.spheres[0].radius: must be positive, not -2.5"},
      {"infinite", one_sphere_scene("\"diffuse\": 0.4", "\"diffuse\": 1e999"), "",
       "scene.json:2:68: the number 1e999 is out of range, even for double precision"},
      {"beyond single precision", one_sphere_scene("[-1.5, 2.0, -4.0]", "[-1.5, 2.0, -4e38]"), "",
       "scene.json: $.light.position[2]: is too large for single precision (-4e+38)"},
      {"square overflows", one_sphere_scene("[1.0, 0.5, -6.0]", "[1.0, 2e19, -6.0]"), "",
       "scene.json: $.spheres[0].center[1]: is too large: its square overflows single precision (2e+19)"},
      {"empty scene", one_sphere_scene(R"({"center": [1.0, 0.5, -6.0], "radius": 1.0, "material": 0})", ""), "",
       "scene.json: $.spheres: is empty: a scene needs at least one sphere"},
      {"a folder", "", "folder", "scene.json: is a folder, not a regular file with a scene"},
      {"a FIFO", "", "fifo", "scene.json: is a FIFO, not a regular file with a scene"},
      {"too large", "", "large",
       "scene.json: too large for a scene file (1048577 bytes; the limit is 1048576 bytes, 1 MiB)"},
      {"standard input", "{\"spheres\": [}", "stdin", "standard input:1:14: syntax error: "},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    const std::filesystem::path scene = dir.path() / "scene.json";
    std::string input;
    if (c.kind == "folder") {
      std::filesystem::create_directory(scene);
    } else if (c.kind == "fifo") {
      ASSERT_EQ(::mkfifo(scene.c_str(), 0600), 0);
    } else if (c.kind == "large") {
      write_text(scene, one_sphere_scene() + std::string(kMaxSceneFileBytes + 1 - one_sphere_scene().size(), ' '));
    } else if (c.kind == "stdin") {
      input = (dir.path() / "input").string();
      write_text(input, c.text);
    } else {
      write_text(scene, c.text);
    }
    const std::string scene_arg = c.kind == "stdin" ? "-" : "scene.json";
    const auto before = dir.entries();
    // Every mode refuses the file the same way before it starts.
    for (const std::vector<std::string>& mode :
         {std::vector<std::string>{"--out", "frame.png"}, {"--frames", "2", "--out-dir", "frames"},
          {"--bench", "--seconds", "0.01"}, {"--verify"}, {"--dump-scene", "dumped.json"}}) {
      std::vector<std::string> args = {"--scene", scene_arg};
      args.insert(args.end(), mode.begin(), mode.end());
      const ProgramRun run = run_render(args, dir, input);
      EXPECT_EQ(run.exit_code, 2) << c.what << ", " << mode[0] << ": " << run.err;
      EXPECT_TRUE(run.err.starts_with("velmora-render: " + c.expected)) << c.what << ", " << mode[0] << ": " << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
      EXPECT_EQ(run.out, "") << c.what;
      EXPECT_EQ(dir.entries(), before) << c.what << ", " << mode[0] << ": something was written";
    }
  }
}

std::vector<std::string> round_trip_poses() {
  return {"--initial", "--clock=0", "--clock=1.7", "--clock=3.14159", "--clock=4.9", "--clock=6.28318",
          "--clock=-2.2", "--clock=1000.25", "--clock=123456.5"};
}

TEST(SceneFiles, TheBuiltInScenesDumpGivesItsFramesWordForWord) {
  ScratchDir dir;
  const ProgramRun dumped = run_render({"--dump-scene", "built-in.json"}, dir);
  ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
  for (const std::string& pose : round_trip_poses()) {
    const ProgramRun from_file = run_render({"--scene", "built-in.json", pose, "--raw", "from-file.raw"}, dir);
    const ProgramRun built_in = run_render({pose, "--raw", "built-in.raw"}, dir);
    ASSERT_EQ(from_file.exit_code, 0) << pose << ": " << from_file.err;
    ASSERT_EQ(built_in.exit_code, 0) << pose << ": " << built_in.err;
    const std::string a = file_text(dir.path() / "from-file.raw"), b = file_text(dir.path() / "built-in.raw");
    EXPECT_EQ(a.size(), 640u * 480u * 4u) << pose;
    EXPECT_TRUE(a == b) << pose << ": the frames differ";
  }
  // Standard input takes the same file, and a dump of the read scene is the
  // same text.
  const ProgramRun again = run_render({"--scene", "-", "--dump-scene", "-"}, dir, (dir.path() / "built-in.json").string());
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out, file_text(dir.path() / "built-in.json"));
}

TEST(SceneFiles, TheBenchmarkReportsTheSphereCount) {
  ScratchDir dir;
  write_text(dir.path() / "scene.json", one_sphere_scene());
  const ProgramRun text = run_render({"--scene", "scene.json", "--bench", "--seconds", "0.01"}, dir);
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("scene:      1 sphere, 1 material\n"), std::string::npos) << text.out;
  const ProgramRun json = run_render({"--bench", "--seconds", "0.01", "--json"}, dir);
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_NE(json.out.find("\"spheres\":4"), std::string::npos) << json.out;
}

}  // namespace
}  // namespace render_tool
