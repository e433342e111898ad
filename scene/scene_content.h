// Any scene the kernel's stores can hold, and how its spheres move with the
// animation's clock: what the tools render, whether the scene is the
// built-in one or one read from a file.
#pragma once

#include <optional>
#include <vector>

#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/records.h"

// One pose of a scene: up to the stores' capacity of spheres, materials and
// lights, uploaded as they are.  The trace reads light 0 only.
struct SceneContent {
  std::vector<Sphere> spheres;
  std::vector<Material> materials;
  std::vector<PointLight> lights;

  SceneContent() = default;
  // The built-in scene's records, whole.
  SceneContent(const SceneRecords& records)  // NOLINT: a pose of the built-in scene stands for its records
      : spheres(std::begin(records.spheres), std::end(records.spheres)),
        materials(std::begin(records.materials), std::end(records.materials)),
        lights(std::begin(records.lights), std::end(records.lights)) {}
};

// A scene and its animation: the pose before any clock, and one motion or
// none per sphere (a sphere without one stays where it stands).
struct AnimatedScene {
  SceneContent initial;
  std::vector<std::optional<SphereMotion>> motions;  // as many as initial.spheres

  // The pose at clock t.
  SceneContent at_clock(float t) const;
};

// The built-in scene (initial_scene) with its animation, animated_spheres().
const AnimatedScene& built_in_scene();
