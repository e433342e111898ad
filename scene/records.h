// The records that describe the scene.
//
// `Sphere`, `Material` and `PointLight` are copied byte for byte into the
// kernel's stores and read there at fixed offsets, so their layouts are a
// byte format shared by host and kernel; the static_asserts at the end pin
// every size and offset of it.  `Vec4T` is a template over the lane type so
// that the trace's own records (shading/rays.h) can hold one vector for
// several pixels; this header needs nothing of the lanes themselves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/host_device.h"

// A point, a direction or a colour.  Default construction sets w = 1 and
// leaves x, y, z as they are (zero in static storage).
template <class Float>
struct alignas(16) Vec4T {
  Float x;
  Float y;
  Float z;
  Float w;

  VELMORA_HOST_DEVICE Vec4T() : w(1.0f) {}
  VELMORA_HOST_DEVICE Vec4T(Float x_, Float y_, Float z_, Float w_ = Float(1.0f))
      : x(x_), y(y_), z(z_), w(w_) {}
};

using Vec4 = Vec4T<float>;

// One sphere of the scene (32 bytes).  `radius` is kept for whoever builds
// the scene; the renderer reads only `radius_sq`.
struct alignas(16) Sphere {
  Vec4 center;
  float radius;
  float radius_sq;
  std::uint8_t material;  // index into the material table
  std::uint8_t reserved[7];

  // Sets center.w only; `Sphere s{}` zeroes the rest first.
  Sphere() = default;
};

// Surface properties (48 bytes).
struct alignas(16) Material {
  Vec4 color;  // red, green, blue in x, y, z; w is never read
  float ambient;
  float diffuse;
  float specular;
  float shininess;
  float reflection;        // weight of the reflected ray
  float transparency;      // weight of the refracted ray
  float refraction_index;  // read only when the refracted ray is followed
  std::uint32_t reserved;

  // Sets color.w only; `Material m{}` zeroes the rest first.
  Material() = default;
};

// One point light (64 bytes).  The renderer reads only `position`; the
// parameter block keeps it at offset 48 and carries the defaults below.
struct alignas(16) PointLight {
  float params[12];
  Vec4 position;

  VELMORA_HOST_DEVICE PointLight() {
    params[3] = 1.0f;
    params[4] = 1.0f;
    params[8] = 1.0f;
    params[9] = 0.05f;
    params[10] = 0.001f;
  }
};

// One 16-byte texel of the sphere store: four 32-bit words whose bits are
// taken as they are (sphere i is texels 2i and 2i + 1).
struct alignas(16) SphereTexel {
  std::uint32_t x;
  std::uint32_t y;
  std::uint32_t z;
  std::uint32_t w;
};

// Capacities of the kernel's stores.
inline constexpr int kMaxSpheres = 32;
inline constexpr int kMaxMaterials = 32;
inline constexpr int kMaxLights = 8;
inline constexpr int kSphereBufferBytes = kMaxSpheres * 32;
inline constexpr int kMaterialStoreBytes = kMaxMaterials * 48;
inline constexpr int kLightStoreBytes = kMaxLights * 64;

static_assert(sizeof(Vec4) == 16 && alignof(Vec4) == 16);
static_assert(offsetof(Vec4, x) == 0 && offsetof(Vec4, y) == 4);
static_assert(offsetof(Vec4, z) == 8 && offsetof(Vec4, w) == 12);

static_assert(sizeof(Sphere) == 32 && alignof(Sphere) == 16);
static_assert(offsetof(Sphere, center) == 0 && offsetof(Sphere, radius) == 16);
static_assert(offsetof(Sphere, radius_sq) == 20 && offsetof(Sphere, material) == 24);
static_assert(offsetof(Sphere, reserved) == 25);

static_assert(sizeof(Material) == 48 && alignof(Material) == 16);
static_assert(offsetof(Material, color) == 0 && offsetof(Material, ambient) == 16);
static_assert(offsetof(Material, diffuse) == 20 && offsetof(Material, specular) == 24);
static_assert(offsetof(Material, shininess) == 28 && offsetof(Material, reflection) == 32);
static_assert(offsetof(Material, transparency) == 36);
static_assert(offsetof(Material, refraction_index) == 40 && offsetof(Material, reserved) == 44);

static_assert(sizeof(PointLight) == 64 && alignof(PointLight) == 16);
static_assert(offsetof(PointLight, params) == 0 && offsetof(PointLight, position) == 48);

static_assert(sizeof(SphereTexel) == 16 && 2 * sizeof(SphereTexel) == sizeof(Sphere));
static_assert(kSphereBufferBytes == 1024 && kMaterialStoreBytes == 1536 && kLightStoreBytes == 512);
