// The fixed scene: four spheres, five materials and the first light's
// position, as data.  The start-up code writes these into the scene storage;
// tests and the headless renderer build the same scene from them.
#pragma once

#include "scene/records.h"

inline constexpr int kInitialSphereCount = 4;
inline constexpr int kInitialMaterialCount = 5;
inline constexpr int kInitialLightCount = 2;

// Writes centre (w = 1), radius, radius squared and material of spheres 0-3.
void write_initial_spheres(Sphere* spheres);

// Writes colour and the seven coefficients of materials 0-4 (the reserved
// word of each record is left as it is).
void write_initial_materials(Material* materials);

// Position of light 0: (-1.5, 2, -4, 1).
Vec4 initial_light_position();
