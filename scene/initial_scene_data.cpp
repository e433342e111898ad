#include "scene/initial_scene_data.h"

#include "scene/animation.h"

namespace {

struct SphereRow {
  float x, y, z, radius;
  std::uint8_t material;
};

// 0: red, reflecting; 1: green, reflecting, moved by the animation;
// 2: white floor (so large that near the camera it is flat, top at y = -0.4);
// 3: white, refracting, nearest the camera, moved by the animation.
constexpr SphereRow kSpheres[] = {
    {-1.0f, 0.5f, -5.0f, 1.0f, 2},
    {1.0f, 0.5f, -6.0f, 1.0f, 1},
    {0.0f, -100.4f, 0.0f, 100.0f, 0},
    {0.0f, 0.25f, -3.0f, 0.5f, 4},
};

struct MaterialRow {
  float r, g, b, w;
  float ambient, diffuse, specular, shininess, reflection, transparency, refraction_index;
};

// Material 3 is uploaded with the others but no sphere uses it.
constexpr MaterialRow kMaterials[] = {
    {1.0f, 1.0f, 1.0f, 1.0f, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
    {0.0f, 1.0f, 0.0f, 1.0f, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
    {1.0f, 0.0f, 0.0f, 1.0f, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
    {1.0f, 1.0f, 1.0f, 0.2f, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
    {1.0f, 1.0f, 1.0f, 1.0f, 0.05f, 0.4f, 0.55f, 80.0f, 0.0f, 0.75f, 1.05f},
};

static_assert(std::size(kSpheres) == kInitialSphereCount);
static_assert(std::size(kMaterials) == kInitialMaterialCount);

}  // namespace

SceneRecords initial_scene() {
  SceneRecords scene;
  for (std::size_t i = 0; i < std::size(kSpheres); ++i) {
    const SphereRow& row = kSpheres[i];
    Sphere& s = scene.spheres[i];
    s.center = Vec4(row.x, row.y, row.z, 1.0f);
    s.radius = row.radius;
    s.radius_sq = row.radius * row.radius;
    s.material = row.material;
  }
  for (std::size_t i = 0; i < std::size(kMaterials); ++i) {
    const MaterialRow& row = kMaterials[i];
    Material& m = scene.materials[i];
    m.color = Vec4(row.r, row.g, row.b, row.w);
    m.ambient = row.ambient;
    m.diffuse = row.diffuse;
    m.specular = row.specular;
    m.shininess = row.shininess;
    m.reflection = row.reflection;
    m.transparency = row.transparency;
    m.refraction_index = row.refraction_index;
  }
  scene.lights[0].position = Vec4(-1.5f, 2.0f, -4.0f, 1.0f);
  return scene;
}

SceneRecords scene_at_clock(float t) {
  SceneRecords scene = initial_scene();
  place_animated_spheres(scene.spheres, t);
  return scene;
}
