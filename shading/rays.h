// The records the trace works with, which never leave the side that makes
// them: a ray and the nearest hit along it.  They are templates over the lane
// type, so that the packed trace holds one record for several pixels.
#pragma once

#include "lanes/lanes.h"
#include "scene/records.h"

// A half-line; `direction` is of unit length once built by the ray makers.
template <class Float>
struct RayT {
  Vec4T<Float> origin;
  Vec4T<Float> direction;
};

using Ray = RayT<float>;

// The indices a lane carries: a sphere's in the store, and a material's, a
// byte of the sphere's record.
template <class Float>
using SphereIndex = lanes::Index<Float>;
template <class Float>
using MaterialIndex = lanes::ByteIndex<Float>;

// The nearest hit of a ray.  `sphere_index` is -1 before any hit; `hit` is
// set with every stored hit and never cleared.
template <class Float>
struct HitRecordT {
  Vec4T<Float> point = Vec4T<Float>(Float(0.0f), Float(0.0f), Float(0.0f));
  Vec4T<Float> normal = Vec4T<Float>(Float(0.0f), Float(0.0f), Float(0.0f));
  MaterialIndex<Float> material = MaterialIndex<Float>(0);
  lanes::Mask<Float> hit = lanes::Mask<Float>(false);
  SphereIndex<Float> sphere_index = SphereIndex<Float>(-1);
};

using HitRecord = HitRecordT<float>;

