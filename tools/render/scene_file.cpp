#include "tools/render/scene_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>

namespace render_tool {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Where a value stands in the document, as a JSON path: $.spheres[2].radius.
std::string member_path(const std::string& parent, const std::string& key) { return parent + "." + key; }
std::string element_path(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

// Reads the values of one file, each error naming the file and the value.
class SceneReader {
 public:
  explicit SceneReader(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void fail(const std::string& path, const std::string& what) const {
    throw SceneFileError(name_ + ": " + path + ": " + what);
  }

  // An object holding every one of `required`, any of `optional`, and
  // nothing else.
  void expect_object(const Json& value, const std::string& path, std::initializer_list<const char*> required,
                     std::initializer_list<const char*> optional = {}) const {
    if (!value.is_object()) fail(path, "must be an object, not " + type_text(value));
    for (const char* key : required) {
      if (!value.contains(key)) fail(member_path(path, key), "is missing");
    }
    for (const auto& item : value.items()) {
      const std::string& key = item.key();
      const auto named = [&key](std::initializer_list<const char*> keys) {
        for (const char* k : keys) {
          if (key == k) return true;
        }
        return false;
      };
      if (!named(required) && !named(optional)) fail(member_path(path, key), "is not a field of " + what_at(path));
    }
  }

  // A number usable in single precision: finite there, and with a finite
  // square (the trace squares distances, the radius among them).
  float number(const Json& value, const std::string& path) const {
    if (!value.is_number()) fail(path, "must be a number, not " + type_text(value));
    const double d = value.get<double>();
    if (!std::isfinite(d)) fail(path, "must be a finite number");
    const float f = static_cast<float>(d);
    if (!std::isfinite(f)) fail(path, "is too large for single precision (" + value.dump() + ")");
    if (!std::isfinite(f * f)) {
      fail(path, "is too large: its square overflows single precision (" + value.dump() + ")");
    }
    return f;
  }

  // An array of exactly `count` numbers.
  void numbers(const Json& value, const std::string& path, float* out, std::size_t count) const {
    if (!value.is_array() || value.size() != count) {
      fail(path, "must be an array of " + std::to_string(count) + " numbers, not " + type_text(value));
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = number(value[i], element_path(path, i));
  }

  Vec4 point(const Json& value, const std::string& path) const {
    float xyz[3];
    numbers(value, path, xyz, 3);
    return Vec4(xyz[0], xyz[1], xyz[2], 1.0f);
  }

  // A non-empty array of at most `capacity` elements.
  void array_within(const Json& value, const std::string& path, int capacity, const char* what) const {
    if (!value.is_array()) fail(path, "must be an array, not " + type_text(value));
    if (value.empty()) fail(path, std::string("is empty: a scene needs at least one ") + what);
    if (value.size() > static_cast<std::size_t>(capacity)) {
      fail(path, "holds " + std::to_string(value.size()) + " " + what + "s, more than the " +
                     std::to_string(capacity) + " the renderer's store has room for");
    }
  }

 private:
  static std::string type_text(const Json& value) {
    if (value.is_array()) return "an array of " + std::to_string(value.size());
    if (value.is_object()) return "an object";
    if (value.is_string()) return "a string";
    if (value.is_boolean()) return "a boolean";
    if (value.is_null()) return "null";
    return "a number";
  }
  static std::string what_at(const std::string& path) {
    if (path == "$") return "the scene";
    if (path.ends_with(".light")) return "the light";
    if (path.ends_with(".motion")) return "a motion";
    if (path.find("$.spheres[") == 0) return "a sphere";
    if (path.find("$.materials[") == 0) return "a material";
    return "this object";
  }

  std::string name_;
};

// "line L, column C" of the 1-based byte `byte` of `text`.
std::pair<std::size_t, std::size_t> line_and_column(const std::string& text, std::size_t byte) {
  const std::size_t end = std::min(byte == 0 ? 0 : byte - 1, text.size());
  std::size_t line = 1, line_start = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return {line, end - line_start + 1};
}

// The parser's own account of the fault, without its prefix and position.
std::string syntax_detail(const std::string& what) {
  const std::size_t column = what.find("column ");
  const std::size_t colon = column == std::string::npos ? what.find(": ") : what.find(": ", column);
  return colon == std::string::npos ? what : what.substr(colon + 2);
}

Material material_of(const SceneReader& reader, const Json& value, const std::string& path) {
  reader.expect_object(value, path,
                       {"color", "ambient", "diffuse", "specular", "shininess", "reflection", "transparency",
                        "refraction_index"});
  Material m;
  float color[4];
  reader.numbers(value["color"], member_path(path, "color"), color, 4);
  m.color = Vec4(color[0], color[1], color[2], color[3]);
  m.ambient = reader.number(value["ambient"], member_path(path, "ambient"));
  m.diffuse = reader.number(value["diffuse"], member_path(path, "diffuse"));
  m.specular = reader.number(value["specular"], member_path(path, "specular"));
  m.shininess = reader.number(value["shininess"], member_path(path, "shininess"));
  m.reflection = reader.number(value["reflection"], member_path(path, "reflection"));
  m.transparency = reader.number(value["transparency"], member_path(path, "transparency"));
  m.refraction_index = reader.number(value["refraction_index"], member_path(path, "refraction_index"));
  return m;
}

Sphere sphere_of(const SceneReader& reader, const Json& value, const std::string& path, std::size_t materials,
                 std::optional<SphereMotion>& motion) {
  reader.expect_object(value, path, {"center", "radius", "material"}, {"motion"});
  Sphere s;
  s.center = reader.point(value["center"], member_path(path, "center"));
  const std::string radius_path = member_path(path, "radius");
  s.radius = reader.number(value["radius"], radius_path);
  if (!(s.radius > 0.0f)) reader.fail(radius_path, "must be positive, not " + value["radius"].dump());
  s.radius_sq = s.radius * s.radius;
  const Json& material = value["material"];
  const std::string material_path = member_path(path, "material");
  if (!material.is_number_integer()) reader.fail(material_path, "must be a whole number, not " + material.dump());
  if (material.is_number_unsigned() ? material.get<std::uint64_t>() >= materials : true) {
    reader.fail(material_path, "names material " + material.dump() + ", but the scene has materials 0 to " +
                                   std::to_string(materials - 1));
  }
  s.material = static_cast<std::uint8_t>(material.get<std::uint64_t>());
  if (value.contains("motion")) {
    const Json& m = value["motion"];
    const std::string motion_path = member_path(path, "motion");
    reader.expect_object(m, motion_path, {"base", "sin", "cos"});
    motion = SphereMotion{reader.point(m["base"], member_path(motion_path, "base")),
                          reader.point(m["sin"], member_path(motion_path, "sin")),
                          reader.point(m["cos"], member_path(motion_path, "cos"))};
  }
  return s;
}

// A number that reads back as `value` exactly and is written as briefly as
// a float allows: the double nearest the shortest decimal of the float,
// unless that decimal would round to another float by way of the double.
double written_number(float value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
  *end = '\0';
  const double brief = std::strtod(text, nullptr);
  return static_cast<float>(brief) == value && std::signbit(brief) == std::signbit(value)
             ? brief
             : static_cast<double>(value);
}

OrderedJson point_json(const Vec4& v) {
  return OrderedJson::array({written_number(v.x), written_number(v.y), written_number(v.z)});
}

std::string read_all(int fd, const std::string& name) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw SceneFileError(name + ": cannot read: " + std::strerror(errno));
    }
    if (got == 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxSceneFileBytes) {
      throw SceneFileError(name + ": too large for a scene file (more than " +
                           std::to_string(kMaxSceneFileBytes) + " bytes, the limit, 1 MiB)");
    }
  }
}

const char* file_kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

AnimatedScene parse_scene(const std::string& text, const std::string& name) {
  Json document;
  try {
    document = Json::parse(text);
  } catch (const Json::parse_error& e) {
    const auto [line, column] = line_and_column(text, e.byte);
    throw SceneFileError(name + ":" + std::to_string(line) + ":" + std::to_string(column) +
                         ": syntax error: " + syntax_detail(e.what()));
  } catch (const Json::out_of_range& e) {
    // A number beyond double precision ("number overflow parsing '1e999'"):
    // the parser gives no place, so the number's first appearance is it.
    const std::string what = e.what();
    const std::size_t open = what.find('\''), close = what.rfind('\'');
    const std::string number = open < close ? what.substr(open + 1, close - open - 1) : std::string();
    const std::size_t at = number.empty() ? std::string::npos : text.find(number);
    const auto [line, column] = line_and_column(text, at == std::string::npos ? 0 : at + 1);
    throw SceneFileError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                         (number.empty() ? std::string("a number is out of range")
                                         : "the number " + number + " is out of range, even for double precision"));
  }
  const SceneReader reader(name);
  reader.expect_object(document, "$", {"spheres", "materials", "light"});
  const Json& materials = document["materials"];
  reader.array_within(materials, "$.materials", kMaxMaterials, "material");
  const Json& spheres = document["spheres"];
  reader.array_within(spheres, "$.spheres", kMaxSpheres, "sphere");

  AnimatedScene scene;
  for (std::size_t i = 0; i < materials.size(); ++i) {
    scene.initial.materials.push_back(material_of(reader, materials[i], element_path("$.materials", i)));
  }
  scene.motions.resize(spheres.size());
  for (std::size_t i = 0; i < spheres.size(); ++i) {
    scene.initial.spheres.push_back(
        sphere_of(reader, spheres[i], element_path("$.spheres", i), materials.size(), scene.motions[i]));
  }
  const Json& light = document["light"];
  reader.expect_object(light, "$.light", {"position"});
  PointLight point_light;
  point_light.position = reader.point(light["position"], "$.light.position");
  scene.initial.lights.push_back(point_light);
  return scene;
}

AnimatedScene read_scene_file(const std::string& path) {
  if (path == "-") return parse_scene(read_all(STDIN_FILENO, "standard input"), "standard input");
  // Not blocking: a FIFO is refused below rather than waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) throw SceneFileError(path + ": cannot open: " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw SceneFileError(path + ": cannot examine: " + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) {
    throw SceneFileError(path + ": is " + file_kind(info.st_mode) + ", not a regular file with a scene");
  }
  if (static_cast<std::size_t>(info.st_size) > kMaxSceneFileBytes) {
    throw SceneFileError(path + ": too large for a scene file (" + std::to_string(info.st_size) +
                         " bytes; the limit is " + std::to_string(kMaxSceneFileBytes) + " bytes, 1 MiB)");
  }
  return parse_scene(read_all(fd, path), path);
}

std::string scene_json(const AnimatedScene& scene) {
  OrderedJson spheres = OrderedJson::array();
  for (std::size_t i = 0; i < scene.initial.spheres.size(); ++i) {
    const Sphere& s = scene.initial.spheres[i];
    OrderedJson sphere = {{"center", point_json(s.center)},
                          {"radius", written_number(s.radius)},
                          {"material", static_cast<int>(s.material)}};
    if (i < scene.motions.size() && scene.motions[i]) {
      const SphereMotion& m = *scene.motions[i];
      sphere["motion"] = {{"base", point_json(m.base)}, {"sin", point_json(m.sine)}, {"cos", point_json(m.cosine)}};
    }
    spheres.push_back(sphere);
  }
  OrderedJson materials = OrderedJson::array();
  for (const Material& m : scene.initial.materials) {
    materials.push_back({{"color", OrderedJson::array({written_number(m.color.x), written_number(m.color.y),
                                                       written_number(m.color.z), written_number(m.color.w)})},
                         {"ambient", written_number(m.ambient)},
                         {"diffuse", written_number(m.diffuse)},
                         {"specular", written_number(m.specular)},
                         {"shininess", written_number(m.shininess)},
                         {"reflection", written_number(m.reflection)},
                         {"transparency", written_number(m.transparency)},
                         {"refraction_index", written_number(m.refraction_index)}});
  }
  const Vec4 light = scene.initial.lights.empty() ? Vec4() : scene.initial.lights[0].position;
  const OrderedJson light_json = {{"position", point_json(light)}};
  // One sphere or material a line, each as the library writes it compactly.
  const auto lines = [](const OrderedJson& items) {
    std::string text;
    for (const OrderedJson& item : items) text += (text.empty() ? "\n    " : ",\n    ") + item.dump();
    return text + "\n  ";
  };
  return "{\n  \"spheres\": [" + lines(spheres) + "],\n  \"materials\": [" + lines(materials) +
         "],\n  \"light\": " + light_json.dump() + "\n}\n";
}

}  // namespace render_tool
