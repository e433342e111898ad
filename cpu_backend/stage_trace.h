// The packed trace of one block, stage by stage.
//
// Tracing a pack of pixels through the whole bounce loop keeps every
// stage's values alive at once (ray, hit record, colour sum, weight,
// material, masks), more than 16 vector registers hold, and runs each
// stage on packs whose lanes have partly finished.  Here each stage is a
// pass over a queue of the rays still going: camera rays for the block's
// pixels, then per bounce a pass of nearest-hit searches and one of shadow
// searches, shading and continuations over the rays that hit.  Rays that end
// leave the queue, which is compacted, so every pass runs on full packs of
// live rays; the queue is a small structure of arrays that stays in L1.
//
// The stages are the functions the CUDA kernel's thread calls for its one
// pixel (kernel/trace.h), with the same operations in the same order on
// every ray, so the frame has the same bits as the scalar trace.
// CPU builds only.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>

#include "kernel/trace.h"
#include "lanes/simd_lanes.h"

namespace stage_trace {

// Each pass is one function with the whole of its stage inlined into it:
// left to its own judgement, GCC keeps the lane operations as calls and the
// packed code runs at half speed.
#define VELMORA_STAGE_PASS __attribute__((flatten, noinline))

// Pixels traced together: their rays share one queue.
inline constexpr int kBatchPixels = 64;

// One float array per field of a queued ray; the pixel it belongs to is
// kept as a float as well (exact below 2^24), so that compaction moves all
// fields alike.
enum Field : int {
  kOriginX, kOriginY, kOriginZ, kDirX, kDirY, kDirZ,
  kWeight,
  kSphere,    // sphere of the last hit: the next search skips it
  kPointX, kPointY, kPointZ, kNormalX, kNormalY, kNormalZ,
  kMaterial,
  kLit,       // 1 where the hit sees the light
  kPixel,     // index into the batch's pixel list
  kFieldCount
};

template <int kLanes>
struct RayQueue {
  // Room past the last ray for a pack's worth of copies of it, and for the
  // spill of a compressed store beyond that.
  static constexpr int kSlots = kBatchPixels + 2 * kLanes;
  alignas(64) float field[kFieldCount][kSlots];
  unsigned keep[kSlots / kLanes];  // per pack, the lanes whose ray stays, as bits
  int count = 0;
};

template <class Pack>
inline Pack load(const float* p) {
  return Pack(p, lanes::stdx::element_aligned);
}

template <class Pack>
inline void store(const Pack& v, float* p) {
  v.copy_to(p, lanes::stdx::element_aligned);
}

// Lanes past the last ray trace copies of it, so that every lane of the
// last pack holds a ray that really occurs (its table reads stay in range
// and agree with its neighbours'); their results are never used.
template <class Pack, int kLanes>
inline void pad_tail(RayQueue<kLanes>& q) {
  if (q.count == 0) return;
  for (int f = 0; f < kFieldCount; ++f) {
    Pack(q.field[f][q.count - 1]).copy_to(&q.field[f][q.count], lanes::stdx::element_aligned);
  }
}

// The lanes of a mask that are set, as bits.
template <class Pack>
inline unsigned lane_bits(const lanes::Mask<Pack>& set) {
  unsigned bits = 0;
  for (int l = 0; l < static_cast<int>(Pack::size()); ++l) bits |= static_cast<unsigned>(set[l]) << l;
  return bits;
}

// Writes the lanes of `v` named by `bits`, in order, from dst onwards; may
// write up to a pack's width of lanes past them.
template <class Pack>
inline void store_compressed(const Pack& v, unsigned bits, float* dst) {
  constexpr int kLanes = static_cast<int>(Pack::size());
  [[maybe_unused]] constexpr bool native = std::is_same_v<Pack, lanes::NativePack>;
#if defined(__AVX512F__)
  if constexpr (native && kLanes == 16) {
    _mm512_storeu_ps(dst, _mm512_maskz_compress_ps(static_cast<__mmask16>(bits), static_cast<__m512>(v)));
    return;
  }
#endif
#if defined(__AVX2__) && defined(__BMI2__)
  if constexpr (native && kLanes == 8) {
    // One byte per lane of the mask, then the indices of the set lanes
    // gathered to the bottom: the permutation that packs them.
    const std::uint64_t lane_bytes = _pdep_u64(bits, 0x0101010101010101ull) * 0xffu;
    const std::uint64_t indices = _pext_u64(0x0706050403020100ull, lane_bytes);
    const __m256i permutation = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(indices)));
    _mm256_storeu_ps(dst, _mm256_permutevar8x32_ps(static_cast<__m256>(v), permutation));
    return;
  }
#endif
  int n = 0;
  for (int l = 0; l < kLanes; ++l) {
    dst[n] = v[l];
    n += (bits >> l) & 1u;
  }
}

// Keeps the rays whose keep bit is set, in order, and pads the tail.
// Each pack's kept lanes are written at or before the pack's own place, so
// the queue is compacted in place.
template <class Pack, int kLanes>
inline void compact(RayQueue<kLanes>& q) {
  int n = 0;
  for (int i = 0; i < q.count; i += kLanes) {
    unsigned bits = q.keep[i / kLanes];
    constexpr unsigned kAll = kLanes >= 32 ? ~0u : (1u << kLanes) - 1u;
    if (q.count - i < kLanes) bits &= (1u << (q.count - i)) - 1u;
    if (bits == kAll && n == i) {
      n += kLanes;
      continue;
    }
    for (int f = 0; f < kFieldCount; ++f) store_compressed(load<Pack>(&q.field[f][i]), bits, &q.field[f][n]);
    n += std::popcount(bits);
  }
  q.count = n;
  pad_tail<Pack>(q);
}

// A vector held in three consecutive fields from `x` on.
template <class Pack, int kLanes>
inline Vec4T<Pack> load_vec(const RayQueue<kLanes>& q, Field x, int i) {
  return Vec4T<Pack>(load<Pack>(&q.field[x][i]), load<Pack>(&q.field[x + 1][i]), load<Pack>(&q.field[x + 2][i]));
}

template <class Pack, int kLanes>
inline void store_vec(const Vec4T<Pack>& v, RayQueue<kLanes>& q, Field x, int i) {
  store(v.x, &q.field[x][i]);
  store(v.y, &q.field[x + 1][i]);
  store(v.z, &q.field[x + 2][i]);
}

template <class Pack, int kLanes>
inline RayT<Pack> load_ray(const RayQueue<kLanes>& q, int i) {
  RayT<Pack> ray;
  ray.origin = load_vec<Pack>(q, kOriginX, i);
  ray.direction = load_vec<Pack>(q, kDirX, i);
  return ray;
}

template <class Pack, int kLanes>
inline void store_ray(const RayT<Pack>& ray, RayQueue<kLanes>& q, int i) {
  store_vec(ray.origin, q, kOriginX, i);
  store_vec(ray.direction, q, kDirX, i);
}

// The hit of a queued ray: every queued ray has hit something.
template <class Pack, int kLanes>
inline HitRecordT<Pack> load_hit(const RayQueue<kLanes>& q, int i) {
  HitRecordT<Pack> hit;
  hit.point = load_vec<Pack>(q, kPointX, i);
  hit.normal = load_vec<Pack>(q, kNormalX, i);
  hit.material = load<Pack>(&q.field[kMaterial][i]);
  hit.hit = lanes::Mask<Pack>(true);
  hit.sphere_index = load<Pack>(&q.field[kSphere][i]);
  return hit;
}

// Stage: the nearest hit of every queued ray; rays that miss leave.
template <class Pack, int kLanes>
VELMORA_STAGE_PASS void nearest_hit_pass(const TracedSpheres<Pack>& spheres, RayQueue<kLanes>& q) {
  for (int i = 0; i < q.count; i += kLanes) {
    const RayT<Pack> ray = load_ray<Pack>(q, i);
    HitRecordT<Pack> hit;
    hit.sphere_index = load<Pack>(&q.field[kSphere][i]);
    const lanes::Mask<Pack> found = find_nearest_hit(spheres, ray, hit);
    store_vec(hit.point, q, kPointX, i);
    store_vec(hit.normal, q, kNormalX, i);
    store(hit.material, &q.field[kMaterial][i]);
    store(hit.sphere_index, &q.field[kSphere][i]);
    q.keep[i / kLanes] = lane_bits<Pack>(found);
  }
  compact<Pack>(q);
}

// Per-pixel colour sums of a batch, one array per channel.
struct ColorSums {
  alignas(64) float red[kBatchPixels];
  alignas(64) float green[kBatchPixels];
  alignas(64) float blue[kBatchPixels];
};

// Stages: shadow search, shading and continuation, in one pass over the
// hits (three passes, each reloading the hit, measured slower).  The
// weighted colours go to the pixels' sums; rays whose surface neither
// reflects nor transmits leave, and after the last bounce all do.
template <class Pack, int kLanes>
VELMORA_STAGE_PASS void hit_pass(const SceneView& scene, const TracedSpheres<Pack>& spheres, const Vec4T<Pack>& light,
                                 RayQueue<kLanes>& q, ColorSums& sums, bool last) {
  alignas(64) float added[3][RayQueue<kLanes>::kSlots];
  for (int i = 0; i < q.count; i += kLanes) {
    const HitRecordT<Pack> hit = load_hit<Pack>(q, i);
    const lanes::Mask<Pack> lit = !in_shadow(spheres, hit.point, light, hit);
    const MaterialLanes<Pack> m = load_material<Pack>(scene.materials, hit.material);
    Pack weight = load<Pack>(&q.field[kWeight][i]);
    const Vec4T<Pack> weighted = vec_scale(hit_color(hit, light, m, lit), weight);
    store(weighted.x, &added[0][i]);
    store(weighted.y, &added[1][i]);
    store(weighted.z, &added[2][i]);
    if (last) continue;
    RayT<Pack> ray = load_ray<Pack>(q, i);
    const lanes::Mask<Pack> goes_on = continue_ray(spheres, ray, weight, hit, m, lanes::Mask<Pack>(true));
    store_ray(ray, q, i);
    store(weight, &q.field[kWeight][i]);
    q.keep[i / kLanes] = lane_bits<Pack>(goes_on);
  }
  for (int i = 0; i < q.count; ++i) {
    const int p = static_cast<int>(q.field[kPixel][i]);
    sums.red[p] = sums.red[p] + added[0][i];
    sums.green[p] = sums.green[p] + added[1][i];
    sums.blue[p] = sums.blue[p] + added[2][i];
  }
  if (!last) compact<Pack>(q);
}

// The coordinates of a batch's pixels, with room for a pack's worth of
// copies of the last one.
template <int kLanes>
struct PixelList {
  alignas(64) std::int32_t x[kBatchPixels + kLanes];
  alignas(64) std::int32_t y[kBatchPixels + kLanes];
  int count = 0;
};

// Traces the pixels of the list and writes their words into the frame.
template <class Pack>
VELMORA_STAGE_PASS void trace_batch(const SceneView& scene, PixelList<lanes::LaneTypes<Pack>::width>& list,
                                    unsigned int* pixels, int width, int height) {
  constexpr int kLanes = lanes::LaneTypes<Pack>::width;
  using Int = lanes::Int<Pack>;
  const int pixel_count = list.count;
  const std::int32_t* x_list = list.x;
  const std::int32_t* y_list = list.y;
  for (int i = pixel_count; i < pixel_count + kLanes; ++i) {
    list.x[i] = list.x[pixel_count - 1];
    list.y[i] = list.y[pixel_count - 1];
  }

  // Stage: camera rays.
  RayQueue<kLanes> q;
  ColorSums sums;
  for (int i = 0; i < pixel_count; i += kLanes) {
    const Int x(&x_list[i], lanes::stdx::element_aligned);
    const Int y(&y_list[i], lanes::stdx::element_aligned);
    store_ray(primary_ray<Pack>(x, y, width, height), q, i);
    store(Pack(1.0f), &q.field[kWeight][i]);
    store(Pack(-1.0f), &q.field[kSphere][i]);
    store(Pack([&](auto l) { return static_cast<float>(i + static_cast<int>(l)); }), &q.field[kPixel][i]);
  }
  std::fill(sums.red, sums.red + kBatchPixels, 0.0f);
  std::fill(sums.green, sums.green + kBatchPixels, 0.0f);
  std::fill(sums.blue, sums.blue + kBatchPixels, 0.0f);
  q.count = pixel_count;

  const Vec4T<Pack> light = broadcast<Pack>(scene.light_position);
  const TracedSpheres<Pack> spheres = traced_spheres<Pack>(scene);
  for (int depth = 0;; ++depth) {
    nearest_hit_pass<Pack>(spheres, q);
    if (q.count == 0) break;
    hit_pass<Pack>(scene, spheres, light, q, sums, depth == kLastRay);
    if (depth == kLastRay || q.count == 0) break;
  }

  // Stage: pixel words.
  for (int i = 0; i < pixel_count; i += kLanes) {
    const Vec4T<Pack> sum(load<Pack>(&sums.red[i]), load<Pack>(&sums.green[i]), load<Pack>(&sums.blue[i]));
    const auto words = pack_pixel(sum);
    for (int l = 0; l < kLanes && i + l < pixel_count; ++l) {
      pixels[y_list[i + l] * width + x_list[i + l]] = words[l];
    }
  }
}

// Traces the block of block_w x block_h pixels whose lower corner is
// (block_x, block_y), in batches of kBatchPixels.  Within a batch the
// pixels come in sub-tiles of tile_w x tile_h, so that the camera rays of
// one pack are neighbours.
template <class Pack>
void trace_block_in_stages(const SceneView& scene, unsigned int* pixels, int width, int height,
                           int block_x, int block_y, int block_w, int block_h, int tile_w,
                           int tile_h) {
  constexpr int kLanes = lanes::LaneTypes<Pack>::width;
  PixelList<kLanes> list;
  for (int ty = 0; ty < block_h; ty += tile_h) {
    for (int tx = 0; tx < block_w; tx += tile_w) {
      const int y_end = std::min(ty + tile_h, block_h);
      const int x_end = std::min(tx + tile_w, block_w);
      for (int y = ty; y < y_end; ++y) {
        for (int x = tx; x < x_end; ++x) {
          list.x[list.count] = block_x + x;
          list.y[list.count] = block_y + y;
          if (++list.count == kBatchPixels) {
            trace_batch<Pack>(scene, list, pixels, width, height);
            list.count = 0;
          }
        }
      }
    }
  }
  if (list.count > 0) trace_batch<Pack>(scene, list, pixels, width, height);
}

}  // namespace stage_trace
