// The lane vocabulary that the shading math and the trace are written in:
// the scalar instantiation everywhere, and on CPU builds the packed one and
// the counting one (lanes/counting_lanes.h) too.
//
// Code written over the lane type includes this header.  The other
// instantiations come in here, before any such code, because those
// templates name the lane operations with qualified names, which are looked
// up where the template is defined.
#pragma once

#include "lanes/scalar_lanes.h"

#if !VELMORA_CUDA_BUILD
#include "lanes/simd_lanes.h"
#include "lanes/counting_lanes.h"
#endif

namespace lanes {

// The value that read(i) gives for each lane's index i, for the lanes of
// `wanted` (the others get one of those values).  Neighbouring lanes mostly
// hold the same index, so the first lane's value is read and broadcast, and
// only lanes that hold another index read theirs, once for each distinct
// index.  `choose(mask, a, b)` is the value's select.
template <class Index, class Mask, class Read, class Choose>
VELMORA_HOST_DEVICE auto read_once_per_index(const Index& index, const Mask& wanted, Read read, Choose choose) {
  const auto first = first_lane(index);
  Mask rest = wanted && !(index == first);
  // Most often every lane wants the first lane's value: returned as read,
  // with no copy of it carried through the loop below.
  if (!any(rest)) return read(static_cast<int>(first));
  auto value = read(static_cast<int>(first));
  while (any(rest)) {
    const auto next = first_set_lane(index, rest);
    const Mask here = index == next;
    value = choose(here, read(static_cast<int>(next)), value);
    rest = rest && !here;
  }
  return value;
}

}  // namespace lanes
