#include "reference/reference_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace reference {
namespace {

// ------------------------------------------------------------ vectors

struct Vec3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 v, double s) { return {v.x * s, v.y * s, v.z * s}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double length(Vec3 v) { return std::sqrt(dot(v, v)); }
Vec3 unit(Vec3 v) { return v * (1.0 / length(v)); }

// The mirror image of direction d in the plane of normal n (n need not be
// of unit length: it enters the formula as it is).
Vec3 reflect(Vec3 d, Vec3 n) { return d - n * (2.0 * dot(d, n)); }

Vec3 from_record(const Vec4& v) { return {v.x, v.y, v.z}; }

struct Ray {
  Vec3 origin;
  Vec3 direction;  // unit length
};

// ------------------------------------------------------------- scene

struct Ball {
  Vec3 center;
  double radius_sq;
  int material;
};

struct Surface {
  Vec3 color;
  double ambient, diffuse, specular, shininess;
  double reflection, transparency, refraction_index;
};

// The renderer traces every sphere of the scene and lights it with light 0.
struct World {
  std::vector<Ball> balls;
  std::vector<Surface> surfaces;
  Vec3 light;
};

World world_of(const SceneContent& scene) {
  World w;
  for (std::size_t i = 0; i < scene.spheres.size(); ++i) {
    const Sphere& s = scene.spheres[i];
    if (s.material >= scene.materials.size()) {
      throw std::invalid_argument("reference: sphere " + std::to_string(i) + " names material " +
                                  std::to_string(s.material) + ", which the scene does not have");
    }
    w.balls.push_back({from_record(s.center), s.radius_sq, s.material});
  }
  for (const Material& m : scene.materials) {
    w.surfaces.push_back({from_record(m.color), m.ambient, m.diffuse, m.specular, m.shininess, m.reflection,
                          m.transparency, m.refraction_index});
  }
  if (scene.lights.empty()) throw std::invalid_argument("reference: the scene has no light");
  w.light = from_record(scene.lights[0].position);
  return w;
}

// ------------------------------------------------------------- search

constexpr double kNoHit = 1e38;
constexpr double kThreshold = 1e-12;  // on reflection and transparency; shadow tolerance
constexpr double kRefractOffset = 1e-5;
constexpr int kLastBounce = 3;        // the camera ray and three continuations

struct Hit {
  Vec3 point;
  Vec3 normal;
  int sphere = -1;  // carried from one search to the next: the sphere to skip
};

// The nearest sphere along the ray, stored in `hit`.  A sphere is missed
// when the ray's line passes it by, when its centre lies behind the origin,
// or when the origin lies inside it.  The sphere that `hit` names is skipped
// (the one the previous ray hit, or the one a shadow ray starts on), until
// a hit on another sphere replaces it.
bool nearest_hit(const World& w, const Ray& ray, Hit& hit) {
  double nearest = kNoHit;
  bool found = false;
  for (int i = 0; i < static_cast<int>(w.balls.size()); ++i) {
    if (i == hit.sphere) continue;
    const Ball& ball = w.balls[static_cast<std::size_t>(i)];
    const Vec3 oc = ray.origin - ball.center;
    const double b = dot(oc, ray.direction);
    const double c = dot(oc, oc) - ball.radius_sq;
    const double disc = b * b - c;
    if (disc < 0.0 || b > 0.0 || c < 0.0) continue;
    const double t = -(b + std::sqrt(disc));  // the nearer root
    if (t < nearest) {                        // false for NaN too
      nearest = t;
      hit.point = ray.origin + ray.direction * t;
      hit.normal = unit(hit.point - ball.center);
      hit.sphere = i;
      found = true;
    }
  }
  return found;
}

double squared_distance(Vec3 a, Vec3 b) { return dot(a - b, a - b); }

// Whether p, on sphere `on_sphere`, does not see the light: some sphere in
// the direction of the light has its hit point no farther from the light
// than p is.
bool in_shadow(const World& w, Vec3 p, int on_sphere) {
  Hit blocker;
  blocker.sphere = on_sphere;
  const Ray toward_light{p, unit(w.light - p)};
  if (!nearest_hit(w, toward_light, blocker)) return false;
  return squared_distance(p, w.light) + kThreshold >= squared_distance(blocker.point, w.light);
}

// ------------------------------------------------------------ shading

// The point light's colour at a hit: ambient, diffuse and specular terms
// over the attenuation 1 + 0.05 d + 0.01 d^2 of the distance d to the light,
// times the surface colour.  The eye is at the origin.
Vec3 shade(const World& w, const Hit& hit, const Surface& s) {
  const Vec3 to_light = w.light - hit.point;
  const double d = length(to_light);
  const Vec3 l = to_light * (1.0 / d);
  const Vec3 v = unit(hit.point * -1.0);
  // l leaves the surface, so its mirror image r points into it; r . v is
  // -1 where the eye looks along the light's reflection.
  const Vec3 r = unit(reflect(l, hit.normal));

  double diffuse = dot(hit.normal, l) * s.diffuse;
  double specular = 0.0;
  if (diffuse > 0.0) {
    specular = std::pow(dot(r, v), s.shininess) * s.specular;
  } else {
    diffuse = 0.0;
  }
  const double attenuation = 1.0 + 0.05 * d + 0.01 * d * d;
  return s.color * ((s.ambient + diffuse + specular) / attenuation);
}

// ---------------------------------------------------------- continuations

// Direction d meets a surface of normal n with index ratio eta; the ray
// goes on from just past p.  Total internal reflection gives NaN, which
// ends the ray at the next search.
Ray refract(Vec3 p, Vec3 d, Vec3 n, double eta) {
  const double cosi = dot(d, n);
  const double k = 1.0 - eta * eta * (1.0 - cosi * cosi);
  const Vec3 t = unit(d * eta + n * (-(eta * cosi) - std::sqrt(k)));
  return {p + t * kRefractOffset, t};
}

// Into the glass sphere just hit: refract at the hit point, then go back
// along the refracted ray to the sphere's surface (the root with the minus
// sign, which for an origin just inside is the entry point again) and
// refract there once more with the unnormalised normal E - C.  The next ray
// starts just inside the sphere; the search skips the sphere it started in.
Ray through_glass(const World& w, const Ray& ray, const Hit& hit, double eta) {
  const Ray inside = refract(hit.point, ray.direction, hit.normal, eta);
  const Ball& ball = w.balls[static_cast<std::size_t>(hit.sphere)];
  const Vec3 oc = inside.origin - ball.center;
  const double b = dot(oc, inside.direction);
  const double c = dot(oc, oc) - ball.radius_sq;
  const double disc = b * b - c;
  const double t = disc >= 0.0 ? -(b + std::sqrt(disc)) : 0.0;
  const Vec3 e = inside.origin + inside.direction * t;
  return refract(e, inside.direction, e - ball.center, eta);
}

// -------------------------------------------------------------- pixel

Ray camera_ray(int x, int y, int width, int height) {
  const double field_of_view = 0.7853982;  // horizontal, pi/4
  const double image_plane = (width / 2.0) / std::tan(field_of_view / 2.0);
  // Through the pixel's corner: column width/2 and row height/2 look
  // straight ahead.
  const Vec3 d{static_cast<double>(x - width / 2), static_cast<double>(y - height / 2), -image_plane};
  return {{0.0, 0.0, 0.0}, unit(d)};
}

// A channel of 0 to 1 as a byte: scaled by 255 and truncated; negative and
// NaN give 0, and 1 or more gives 255.
std::uint32_t channel_byte(double channel) {
  const double v = channel * 255.0;
  if (!(v >= 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<std::uint32_t>(v);
}

std::uint32_t pack(Vec3 c) {
  return channel_byte(c.x) | channel_byte(c.y) << 8 | channel_byte(c.z) << 16 | 0xff000000u;
}

std::uint32_t trace(const World& w, int x, int y, int width, int height) {
  Ray ray = camera_ray(x, y, width, height);
  Hit hit;
  Vec3 sum;
  double weight = 1.0;
  for (int bounce = 0;; ++bounce) {
    if (!nearest_hit(w, ray, hit)) break;
    const Surface& s = w.surfaces[static_cast<std::size_t>(w.balls[static_cast<std::size_t>(hit.sphere)].material)];
    // A point in shadow adds nothing, not even the ambient term.
    if (!in_shadow(w, hit.point, hit.sphere)) sum = sum + shade(w, hit, s) * weight;
    if (bounce == kLastBounce) break;

    if (s.reflection > kThreshold) {  // a mirror only reflects, whatever its transparency
      weight *= s.reflection;
      ray = {hit.point, unit(reflect(ray.direction, hit.normal))};
    } else if (s.transparency > kThreshold) {
      // The weight takes the transparency once for each refraction.
      weight *= s.transparency * s.transparency;
      ray = through_glass(w, ray, hit, 1.0 / s.refraction_index);
    } else {
      break;
    }
  }
  return pack(sum);
}

int channel(std::uint32_t word, int shift) { return static_cast<int>((word >> shift) & 0xffu); }

}  // namespace

std::uint32_t reference_pixel(const SceneContent& scene, int x, int y, int width, int height) {
  return trace(world_of(scene), x, y, width, height);
}

std::vector<std::uint32_t> reference_frame(const SceneContent& scene, int width, int height) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("reference: the frame size must be positive");
  const World w = world_of(scene);
  std::vector<std::uint32_t> frame(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      frame[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          trace(w, x, y, width, height);
    }
  }
  return frame;
}

FrameComparison compare_frames(std::span<const std::uint32_t> frame,
                               std::span<const std::uint32_t> reference_words) {
  if (frame.size() != reference_words.size()) {
    throw std::invalid_argument("reference: the frames to compare differ in size");
  }
  FrameComparison result;
  result.pixels = frame.size();
  for (std::size_t i = 0; i < frame.size(); ++i) {
    int worst = 0;
    for (int shift : {0, 8, 16}) {
      worst = std::max(worst, std::abs(channel(frame[i], shift) - channel(reference_words[i], shift)));
    }
    if (worst > kChannelTolerance) ++result.differing;
    if (worst > result.largest_difference) {
      result.largest_difference = worst;
      result.largest_at = i;
    }
  }
  return result;
}

}  // namespace reference
