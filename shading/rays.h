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

// The nearest hit of a ray.  `sphere_index` is -1 before any hit; `hit` is
// set with every stored hit and never cleared.
template <class Float>
struct HitRecordT {
  Vec4T<Float> point;
  Vec4T<Float> normal;
  lanes::Byte<Float> material;
  lanes::Mask<Float> hit;
  lanes::Index<Float> sphere_index;
};

using HitRecord = HitRecordT<float>;

