// Scenes in files: the JSON form of an animated scene (spheres with their
// materials and optional motions, the materials, the light), read with
// every value checked, and written back so that reading it again gives the
// same records bit for bit.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "scene/scene_content.h"

namespace render_tool {

// The most a scene file may hold: 1 MiB, far more than 32 spheres and 32
// materials take in any layout.
inline constexpr std::size_t kMaxSceneFileBytes = std::size_t{1} << 20;

// A scene file that cannot be used.  what() is one line that names the file
// and the place: "FILE:LINE:COLUMN: ..." for the syntax, "FILE: $.spheres[2].radius:
// ..." for a value.
class SceneFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The scene in `text`; `name` is what messages call the file.  Throws
// SceneFileError.
AnimatedScene parse_scene(const std::string& text, const std::string& name);

// The scene of the file at `path` ("-": standard input, called "standard
// input" in messages).  The file must be a regular file (or standard input
// of any kind) of at most kMaxSceneFileBytes.  Throws SceneFileError.
AnimatedScene read_scene_file(const std::string& path);

// The scene as a JSON text, one sphere or material a line, ending in a
// newline.  Its first light is the light; the others are not written.
std::string scene_json(const AnimatedScene& scene);

}  // namespace render_tool
