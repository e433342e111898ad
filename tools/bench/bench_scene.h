// The scene every benchmark renders: the initial scene, its materials and
// lights uploaded, spheres placed for a clock a few seconds in.
#pragma once

#include "gpu/rtlib.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

struct BenchScene {
  SceneRecords records = scene_at_clock(2.5f);

  // What the program uploads once at start-up and then before every frame.
  void upload_all() const {
    upload_materials(records.materials, record_count(records.materials));
    upload_frame();
  }
  void upload_frame() const {
    upload_spheres(records.spheres, record_count(records.spheres));
    upload_lights(records.lights, record_count(records.lights));
  }
};
