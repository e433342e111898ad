// The scene every benchmark renders: the initial scene, its materials and
// lights uploaded, spheres placed for a clock a few seconds in.
#pragma once

#include <cstring>
#include <new>

#include "gpu/rtlib.h"
#include "scene/animation.h"
#include "scene/initial_scene_data.h"

struct BenchScene {
  Sphere spheres[kInitialSphereCount];
  Material materials[kInitialMaterialCount];
  PointLight lights[kInitialLightCount];

  BenchScene() {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    for (PointLight& light : lights) new (&light) PointLight;
    write_initial_spheres(spheres);
    write_initial_materials(materials);
    lights[0].position = initial_light_position();
    place_animated_spheres(spheres, 2.5f);
  }

  // What the program uploads once at start-up and then before every frame.
  void upload_all() const {
    upload_materials(materials, kInitialMaterialCount);
    upload_frame();
  }
  void upload_frame() const {
    upload_spheres(spheres, kInitialSphereCount);
    upload_lights(lights, kInitialLightCount);
  }
};
