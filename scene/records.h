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
#include <iterator>

#include "common/host_device.h"

// A point, a direction or a colour: (0, 0, 0, 1) unless given.  Aligned to
// 16 bytes, or to the lane type where that is stricter: a packed Vec4T
// holds lanes of up to 64 bytes, and an alignas weaker than a member's own
// alignment is ill-formed (GCC ignores it, Clang rejects it).  One alignas
// with the larger value, because GCC 12 takes the last of several rather
// than the strictest.
template <class Float>
struct alignas(alignof(Float) > 16 ? alignof(Float) : 16) Vec4T {
  Float x{};
  Float y{};
  Float z{};
  Float w = Float(1.0f);

  // Not constexpr on purpose: records in static storage are then constructed
  // during dynamic initialisation, in the order their definitions ask for,
  // like every other static object of the program.
  VELMORA_HOST_DEVICE Vec4T() {}
  VELMORA_HOST_DEVICE Vec4T(Float x_, Float y_, Float z_, Float w_ = Float(1.0f))
      : x(x_), y(y_), z(z_), w(w_) {}
};

using Vec4 = Vec4T<float>;

// One sphere of the scene (32 bytes).  `radius` is kept for whoever builds
// the scene; the renderer reads only `radius_sq`.
struct alignas(16) Sphere {
  Vec4 center;
  float radius = 0.0f;
  float radius_sq = 0.0f;
  std::uint8_t material = 0;  // index into the material table
  std::uint8_t reserved[7] = {};
};

// Surface properties (48 bytes).
struct alignas(16) Material {
  Vec4 color;  // red, green, blue in x, y, z; w is never read
  float ambient = 0.0f;
  float diffuse = 0.0f;
  float specular = 0.0f;
  float shininess = 0.0f;
  float reflection = 0.0f;        // weight of the reflected ray
  float transparency = 0.0f;      // weight of the refracted ray
  float refraction_index = 0.0f;  // read only when the refracted ray is followed
  std::uint32_t reserved = 0;
};

// One point light (64 bytes).  The renderer reads only `position`; the
// parameter block keeps it at offset 48 and carries these defaults, which
// nothing reads.
struct alignas(16) PointLight {
  float params[12] = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.05f, 0.001f, 0.0f};
  Vec4 position;
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

// The number of records in an array, as the uploads take it.
template <class Record, std::size_t N>
constexpr int record_count(const Record (&records)[N]) {
  return static_cast<int>(std::size(records));
}

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
