#include "scene/animation.h"

#include <cmath>

#include "scene/scene.h"

Animation animation;
float fps = kStartFrameRate;

Vec4 center_at_clock(const SphereMotion& motion, float t) {
  const float s = static_cast<float>(std::sin(static_cast<double>(t)));
  const float c = static_cast<float>(std::cos(static_cast<double>(t)));
  const auto along = [&](float base, float sine, float cosine) { return (base + s * sine) + c * cosine; };
  return Vec4(along(motion.base.x, motion.sine.x, motion.cosine.x), along(motion.base.y, motion.sine.y, motion.cosine.y),
              along(motion.base.z, motion.sine.z, motion.cosine.z), 1.0f);
}

std::span<const AnimatedSphere> animated_spheres() {
  static const AnimatedSphere moving[] = {
      {1, {Vec4(0.0f, 0.5f, -5.0f), Vec4(2.0f, 0.0f, 0.0f), Vec4(0.0f, 0.0f, 1.0f)}},
      {3, {Vec4(0.0f, 0.5f, -3.0f), Vec4(0.0f, 0.0f, 0.0f), Vec4(0.5f, 0.5f, 0.0f)}},
  };
  return moving;
}

void place_animated_spheres(Sphere* scene_spheres, float t) {
  for (const AnimatedSphere& moving : animated_spheres()) {
    const SphereMotion& m = moving.motion;
    const Vec4 at = center_at_clock(m, t);
    Vec4& center = scene_spheres[moving.sphere].center;
    // A coordinate with neither term stands still and is left as it is.
    if (m.sine.x != 0.0f || m.cosine.x != 0.0f) center.x = at.x;
    if (m.sine.y != 0.0f || m.cosine.y != 0.0f) center.y = at.y;
    if (m.sine.z != 0.0f || m.cosine.z != 0.0f) center.z = at.z;
  }
}

void animate_scene() {
  place_animated_spheres(spheres, animation.step(fps));
}
