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
