#include "scene/scene_content.h"

#include <cmath>

Vec4 center_at_clock(const SphereMotion& motion, float t) {
  const float s = static_cast<float>(std::sin(static_cast<double>(t)));
  const float c = static_cast<float>(std::cos(static_cast<double>(t)));
  const auto along = [&](float base, float sine, float cosine) { return (base + s * sine) + c * cosine; };
  return Vec4(along(motion.base.x, motion.sine.x, motion.cosine.x), along(motion.base.y, motion.sine.y, motion.cosine.y),
              along(motion.base.z, motion.sine.z, motion.cosine.z), 1.0f);
}

SceneContent AnimatedScene::at_clock(float t) const {
  SceneContent pose = initial;
  for (std::size_t i = 0; i < pose.spheres.size() && i < motions.size(); ++i) {
    if (motions[i]) pose.spheres[i].center = center_at_clock(*motions[i], t);
  }
  return pose;
}

namespace {

AnimatedScene make_built_in_scene() {
  AnimatedScene scene{initial_scene(), {}};
  scene.motions.resize(scene.initial.spheres.size());
  // Sphere 1: (2 sin t, 0.5, cos t - 5); sphere 3: (0.5 cos t, 0.5 + 0.5 cos t, -3).
  scene.motions[1] = SphereMotion{Vec4(0.0f, 0.5f, -5.0f), Vec4(2.0f, 0.0f, 0.0f), Vec4(0.0f, 0.0f, 1.0f)};
  scene.motions[3] = SphereMotion{Vec4(0.0f, 0.5f, -3.0f), Vec4(0.0f, 0.0f, 0.0f), Vec4(0.5f, 0.5f, 0.0f)};
  return scene;
}

}  // namespace

const AnimatedScene& built_in_scene() {
  static const AnimatedScene scene = make_built_in_scene();
  return scene;
}
