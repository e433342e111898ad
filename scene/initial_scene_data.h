// The fixed scene: four spheres, five materials and two lights.  Start-up,
// the tools, the benchmarks and the tests all build it here.
#pragma once

#include "scene/records.h"

// One whole scene in records, as the program uploads it: spheres and lights
// into the scene storage and then the kernel's stores every frame, the
// materials once.
inline constexpr int kInitialSphereCount = 4;
inline constexpr int kInitialMaterialCount = 5;
inline constexpr int kInitialLightCount = 2;

struct SceneRecords {
  Sphere spheres[kInitialSphereCount];
  Material materials[kInitialMaterialCount];
  PointLight lights[kInitialLightCount];
};

// The scene as start-up writes it, before any animation step: the spheres'
// centres, radii and materials, the five materials, light 0 at
// (-1.5, 2, -4); every other field as the records' defaults leave it.
SceneRecords initial_scene();

// The scene of the frame at animation clock t: the initial scene with
// spheres 1 and 3 where the animation places them.
SceneRecords scene_at_clock(float t);
