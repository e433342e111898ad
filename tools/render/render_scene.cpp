#include "tools/render/render_scene.h"

#include <cstring>
#include <new>

#include "scene/animation.h"

namespace render_tool {

SceneRecords initial_scene_records() {
  // Zero every byte, then run the records' constructors over the zeros, as
  // happens to the viewer's static arrays before main.
  SceneRecords scene;
  std::memset(static_cast<void*>(&scene), 0, sizeof scene);
  for (Sphere& s : scene.spheres) new (&s) Sphere();
  for (PointLight& l : scene.lights) new (&l) PointLight();
  for (Material& m : scene.materials) new (&m) Material();

  write_initial_spheres(scene.spheres);
  write_initial_materials(scene.materials);
  scene.lights[0].position = initial_light_position();
  return scene;
}

SceneRecords scene_at_clock(float t) {
  SceneRecords scene = initial_scene_records();
  place_animated_spheres(scene.spheres, t);
  return scene;
}

float first_viewer_clock() { return advance_clock(kStartClock, kAnimationSpeed, 60.0f); }

std::vector<float> animation_clocks(int frames, float rate) {
  std::vector<float> clocks;
  clocks.reserve(static_cast<std::size_t>(frames > 0 ? frames : 0));
  float clock = kStartClock;
  for (int i = 0; i < frames; ++i) {
    clock = advance_clock(clock, kAnimationSpeed, rate);
    clocks.push_back(clock);
  }
  return clocks;
}

}  // namespace render_tool
