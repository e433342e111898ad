#include "scene/scene_content.h"

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
  for (const AnimatedSphere& moving : animated_spheres()) scene.motions[moving.sphere] = moving.motion;
  return scene;
}

}  // namespace

const AnimatedScene& built_in_scene() {
  static const AnimatedScene scene = make_built_in_scene();
  return scene;
}
