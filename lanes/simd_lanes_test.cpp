#include "lanes/lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using Native = lanes::NativePack;
constexpr int kWidth = lanes::LaneTypes<Native>::width;

std::uint32_t bits(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof(b));
  return b;
}

// The packed power must give the scalar power's bits in every lane, or the
// packed and scalar traces drift apart in the specular highlights.
TEST(PackedLanes, PowerMatchesScalarBitForBit) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> base_dist(-1.0f, 1.0f);
  std::uniform_real_distribution<float> exponent_dist(0.0f, 200.0f);
  const float special[] = {-1.0f, 1.0f, 0.0f, -0.0f, std::nanf(""), 1e-30f, -1e-30f};
  long mismatches = 0;
  for (int round = 0; round < 20000; ++round) {
    float base[kWidth], exponent[kWidth];
    for (int i = 0; i < kWidth; ++i) {
      base[i] = round % 7 == 0 ? special[(round / 7 + i) % 7] : base_dist(rng);
      // The scene's exponent is 80; mix in integers and fractions.
      exponent[i] = i % 3 == 0 ? 80.0f : (i % 3 == 1 ? std::floor(exponent_dist(rng)) : exponent_dist(rng));
    }
    const Native packed = lanes::pow(Native(base, lanes::stdx::element_aligned),
                                     Native(exponent, lanes::stdx::element_aligned));
    for (int i = 0; i < kWidth; ++i) {
      mismatches += bits(packed[i]) != bits(lanes::pow(base[i], exponent[i]));
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(PackedLanes, PowerKeepsTheSignRulesOfANegativeBase) {
  EXPECT_EQ(lanes::pow(-1.0f, 80.0f), 1.0f);
  EXPECT_EQ(lanes::pow(-0.5f, 3.0f), -0.125f);
  EXPECT_TRUE(std::isnan(lanes::pow(-0.5f, 2.5f)));
  const Native p = lanes::pow(Native(-1.0f), Native(80.0f));
  EXPECT_EQ(float(p[kWidth - 1]), 1.0f);
}

// Every wanted lane gets table[its index], and each distinct index among
// the wanted lanes (and the first lane's) is read once.
TEST(PackedLanes, ReadOncePerIndexReadsEachDistinctIndexOnce) {
  const float table[4] = {10.0f, 11.0f, 12.0f, 13.0f};
  struct Case {
    const char* what;
    int (*index_of)(int lane);
    bool (*wanted)(int lane);
    int reads;
  };
  const Case cases[] = {
      {"one index in every lane", [](int) { return 2; }, [](int) { return true; }, 1},
      {"four indices in turn", [](int i) { return i % 4; }, [](int) { return true; }, 4},
      {"index 3 not wanted", [](int i) { return i % 4; }, [](int i) { return i % 4 != 3; }, 3},
      {"only the first lane wanted", [](int i) { return i % 4; }, [](int i) { return i == 0; }, 1},
  };
  for (const Case& c : cases) {
    const Native index([&](auto i) { return static_cast<float>(c.index_of(static_cast<int>(i))); });
    lanes::Mask<Native> wanted(false);
    for (int i = 0; i < kWidth; ++i) wanted[i] = c.wanted(i);
    int reads = 0;
    const Native got = lanes::read_once_per_index(
        index, wanted,
        [&](int i) {
          ++reads;
          return Native(table[i]);
        },
        [](const lanes::Mask<Native>& m, const Native& a, const Native& b) { return lanes::select(m, a, b); });
    EXPECT_EQ(reads, c.reads) << c.what;
    for (int i = 0; i < kWidth; ++i) {
      if (c.wanted(i)) {
        EXPECT_EQ(float(got[i]), table[c.index_of(i)]) << c.what << ", lane " << i;
      }
    }
  }
}

TEST(PackedLanes, SelectAndTruncate) {
  const Native x([](auto i) { return static_cast<float>(i); });
  const Native picked = lanes::select(x > 1.5f, x, Native(-1.0f));
  EXPECT_EQ(float(picked[0]), -1.0f);
  EXPECT_EQ(float(picked[kWidth - 1]), static_cast<float>(kWidth - 1));

  const auto truncated = lanes::truncate_to_uint(Native(254.99f));
  EXPECT_EQ(static_cast<std::uint32_t>(truncated[0]), 254u);
}

TEST(PackedLanes, WholeNumbersAsTheScalarTestSeesThem) {
  const float values[] = {80.0f, 80.5f, -3.0f, -0.0f, 16777216.0f, 33554432.0f, 3e38f, -7.25f,
                          std::numeric_limits<float>::infinity(), std::nanf(""), 1e-20f, 2147483648.0f};
  constexpr int count = sizeof(values) / sizeof(values[0]);
  const Native v([&](auto i) { return values[i % count]; });
  const auto packed = lanes::is_integer(v);
  for (int i = 0; i < kWidth; ++i) {
    EXPECT_EQ(bool(packed[i]), lanes::is_integer(values[i % count])) << values[i % count];
  }
  EXPECT_TRUE(lanes::is_integer(80.0f));
  EXPECT_FALSE(lanes::is_integer(80.5f));
  EXPECT_TRUE(lanes::is_integer(3e38f));
  EXPECT_FALSE(lanes::is_integer(std::nanf("")));
  EXPECT_FALSE(lanes::is_integer(std::numeric_limits<float>::infinity()));
}

// A mask of the pack's lanes: lane i is set where bit i of `pattern` is.
template <class V>
typename V::mask_type mask_of(std::uint32_t pattern) {
  using T = typename V::value_type;
  const V bit([&](auto i) { return T((pattern >> i) & 1u); });
  return bit == T(1);
}

// Masks that a whole-vector choice instead of a lane-by-lane blend gets
// wrong: none set, all set, one lane at either end, alternate lanes, the
// lower half.
std::vector<std::uint32_t> mask_patterns(int width) {
  const std::uint32_t all = width >= 32 ? ~0u : (1u << width) - 1u;
  return {0u, all, 1u, 1u << (width - 1), 0x55555555u & all, all >> (width / 2)};
}

template <class Float>
class PackedSelect : public ::testing::Test {};

using SelectTypes = ::testing::Types<lanes::NativePack, lanes::Pack<4>>;
TYPED_TEST_SUITE(PackedSelect, SelectTypes);

// Lane by lane, for float and integer lanes, and the chosen lanes keep
// their bits (NaN and -0 included).
TYPED_TEST(PackedSelect, BlendsLaneByLane) {
  using Float = TypeParam;
  using Int = lanes::Int<Float>;
  constexpr int width = lanes::LaneTypes<Float>::width;
  const float specials[] = {std::nanf("0x123"), -0.0f, std::numeric_limits<float>::infinity(), 1e-45f};
  const Float if_true([&](auto i) { return i % 3 == 0 ? specials[i / 3 % 4] : 100.0f + static_cast<float>(i); });
  const Float if_false([](auto i) { return -1.0f - static_cast<float>(i); });
  const Int int_true([](auto i) { return 1000 + static_cast<int>(i); });
  const Int int_false([](auto i) { return -static_cast<int>(i); });
  for (const std::uint32_t pattern : mask_patterns(width)) {
    const Float picked = lanes::select(mask_of<Float>(pattern), if_true, if_false);
    const Int int_picked = lanes::select(mask_of<Int>(pattern), int_true, int_false);
    for (int i = 0; i < width; ++i) {
      const bool set = (pattern >> i) & 1u;
      EXPECT_EQ(bits(picked[i]), bits(set ? if_true[i] : if_false[i])) << "pattern " << pattern << " lane " << i;
      EXPECT_EQ(int(int_picked[i]), set ? int(int_true[i]) : int(int_false[i]))
          << "pattern " << pattern << " lane " << i;
    }
  }
}

// Whether the library's own masked assignment blends lane by lane on this
// build.  Where it does not (Clang with libstdc++ 12 on AVX-512 is such a
// build), `select` must not be going through it.
TYPED_TEST(PackedSelect, LibraryWhereIsBypassedWhereItDoesNotBlend) {
  using Float = TypeParam;
  constexpr int width = lanes::LaneTypes<Float>::width;
  const Float if_true(1.0f);
  bool where_blends = true;
  for (const std::uint32_t pattern : mask_patterns(width)) {
    Float result(0.0f);
    lanes::stdx::where(mask_of<Float>(pattern), result) = if_true;
    for (int i = 0; i < width; ++i) where_blends = where_blends && (result[i] == 1.0f) == bool((pattern >> i) & 1u);
  }
  EXPECT_TRUE(where_blends || VELMORA_SELECT_WITHOUT_WHERE)
      << "where() of this standard library does not blend lane by lane; lanes::select has to blend without it here";
}

}  // namespace
