// An independent reference of the frame: the per-pixel computation written
// a second time, plainly, in double precision, from the formulas the
// renderer is built on (camera ray, nearest sphere, shadow ray, point-light
// shading, reflected and refracted continuations, pixel packing).  It shares
// no code with the trace or the shading math; it reads only the scene
// records.  The tests and `velmora-render --verify` compare the renderer's
// frames with it, so that a fault in the trace shows even though the
// renderer's other paths are all checked against the trace.
//
// The renderer computes in single precision and the reference in double, so
// the two differ a little: a channel can land one step apart where the
// colour sits near a step of 1/255, and a pixel whose ray grazes a sphere,
// a shadow edge or the rim of the glass sphere can take another path
// altogether when one rounding decides which sphere is hit.  The comparison
// therefore counts a pixel as differing only when a channel is off by more
// than kChannelTolerance, and accepts a frame in which at most
// kMaxDifferingFraction of the pixels differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "scene/initial_scene_data.h"
#include "scene/scene_content.h"

namespace reference {

// A pixel differs when one of its red, green or blue bytes is off by more
// than this.
inline constexpr int kChannelTolerance = 1;

// The largest fraction of a frame's pixels that may differ: 0.02%, 61
// pixels of a 640 x 480 frame.  The CPU back-end's frames, measured against
// the reference over the initial scene, 32 clocks of the animation period
// and sizes from 8 x 8 to 2560 x 1920, differ in at most 6 pixels of
// 307,200 (0.002%) and 2 of 76,800 at 320 x 240 (0.0026%), every one of them
// a lone pixel on a silhouette, a shadow edge or the glass sphere's rim,
// where one rounding of single precision sends the ray to another sphere
// (hence channel differences of up to about 100 there).  The bound is about
// eight times the worst of these, room for builds whose arithmetic rounds
// differently (other SIMD widths, the GPU's approximate quotients and square
// roots), which flip more of those lone pixels.  A wrong term in the shading
// or the continuations changes whole surfaces: a sign flipped in the
// refraction makes 5% to 28% of the pixels differ (18% of the initial
// scene), an attenuation without its square term 25% to 54% (41%), a glass
// sphere that takes its transparency once instead of twice 13% (initial).
inline constexpr double kMaxDifferingFraction = 0.0002;

// The pixel word of pixel (x, y) of a width x height frame of `scene`: red
// in bits 0-7, green 8-15, blue 16-23, alpha 255.  Row 0 is the bottom.
std::uint32_t reference_pixel(const SceneContent& scene, int x, int y, int width, int height);

// The whole frame, word y * width + x for pixel (x, y).  Throws
// std::invalid_argument for a size that is not positive, a sphere whose
// material is not in the scene's table, or a scene without a light.
std::vector<std::uint32_t> reference_frame(const SceneContent& scene, int width, int height);

// How a frame compares with the reference frame of the same size.
struct FrameComparison {
  std::size_t pixels = 0;
  std::size_t differing = 0;       // pixels off by more than kChannelTolerance in a channel
  int largest_difference = 0;      // the largest difference of any channel of any pixel
  std::size_t largest_at = 0;      // the index of a pixel with that difference

  double differing_fraction() const {
    return pixels == 0 ? 0.0 : static_cast<double>(differing) / static_cast<double>(pixels);
  }
  // The most differing pixels a frame of this size may have.
  std::size_t allowed() const {
    return static_cast<std::size_t>(kMaxDifferingFraction * static_cast<double>(pixels));
  }
  bool matches() const { return differing <= allowed(); }
};

// Compares the red, green and blue bytes of every word; alpha is not
// compared.  Throws std::invalid_argument when the sizes differ.
FrameComparison compare_frames(std::span<const std::uint32_t> frame,
                               std::span<const std::uint32_t> reference_words);

}  // namespace reference
