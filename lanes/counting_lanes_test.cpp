#include "lanes/counting_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lanes/lanes.h"

namespace {

using lanes::Counted;
using lanes::CountedInt;
using lanes::CountedMask;
using lanes::OpCounts;

// The tallies of one piece of work, counted by hand below.
template <class Work>
OpCounts count(Work work) {
  return lanes::ops_counted_by(work);
}

// Tallies with only the named classes set, for readable expectations.
OpCounts only(std::uint64_t OpCounts::*field, std::uint64_t n) {
  OpCounts c;
  c.*field = n;
  return c;
}

// Each lane operation of the vocabulary, alone, and the tally it moves.
// Operands come through volatile reads so that nothing is folded away.
TEST(CountingLanes, EachOperationCountsInItsClass) {
  volatile float a_in = 2.0f, b_in = 3.0f;
  volatile int i_in = 1, j_in = 2;
  volatile bool m_in = true, n_in = false;
  const Counted a(a_in), b(b_in);
  const CountedInt i(i_in), j(j_in);
  const CountedMask m(m_in), n(n_in);
  using O = OpCounts;
  struct Case {
    const char* what;
    std::function<void()> work;
    OpCounts expected;
  };
  const Case cases[] = {
      {"a + b", [&] { (void)(a + b); }, only(&O::other, 1)},
      {"a - b", [&] { (void)(a - b); }, only(&O::other, 1)},
      {"a * b", [&] { (void)(a * b); }, only(&O::other, 1)},
      {"-a", [&] { (void)(-a); }, only(&O::other, 1)},
      {"min", [&] { (void)lanes::min(a, b); }, only(&O::other, 1)},
      {"index + index", [&] { (void)(i + j); }, only(&O::other, 1)},
      {"int - plain int", [&] { (void)(i - 4); }, only(&O::other, 1)},
      {"a / b", [&] { (void)(a / b); }, only(&O::divisions, 1)},
      {"sqrt", [&] { (void)lanes::sqrt(a); }, only(&O::square_roots, 1)},
      {"pow", [&] { (void)lanes::pow(a, b); }, only(&O::powers, 1)},
      {"a < b", [&] { (void)(a < b); }, only(&O::compares, 1)},
      {"a >= constant", [&] { (void)(a >= 0.0f); }, only(&O::compares, 1)},
      {"a == b", [&] { (void)(a == b); }, only(&O::compares, 1)},
      {"index == index", [&] { (void)(i == j); }, only(&O::compares, 1)},
      {"select of floats", [&] { (void)lanes::select(m, a, b); }, only(&O::selects, 1)},
      {"select of indices", [&] { (void)lanes::select(m, i, j); }, only(&O::selects, 1)},
      {"select of words", [&] { (void)lanes::select(m, 1u, 2u); }, only(&O::selects, 1)},
      {"m && n", [&] { (void)(m && n); }, only(&O::mask_ops, 1)},
      {"m || n", [&] { (void)(m || n); }, only(&O::mask_ops, 1)},
      {"!m", [&] { (void)(!m); }, only(&O::mask_ops, 1)},
      {"m == n", [&] { (void)(m == n); }, only(&O::mask_ops, 1)},
      {"any", [&] { (void)lanes::any(m); }, only(&O::mask_ops, 1)},
      {"all", [&] { (void)lanes::all(m); }, only(&O::mask_ops, 1)},
      {"first_set_lane", [&] { (void)lanes::first_set_lane(i, m); }, only(&O::mask_ops, 1)},
      {"first_lane", [&] { (void)lanes::first_lane(i); }, OpCounts{}},
      {"to_float", [&] { (void)lanes::to_float(i); }, only(&O::conversions, 1)},
      {"truncate_to_uint", [&] { (void)lanes::truncate_to_uint(a); }, only(&O::conversions, 1)},
      // The range test (two compares and an and), the round trip through
      // int32 and the equality.
      {"is_integer in range", [&] { (void)lanes::is_integer(a); }, O{0, 0, 0, 0, 3, 0, 1, 2}},
      // The range test, then v == v and v - v == 0 and their and.
      {"is_integer beyond 2^24", [&] { (void)lanes::is_integer(a * 1e30f); }, O{0, 0, 0, 2, 4, 0, 2, 0}},
      // Both operands of && and || are evaluated, as a pack evaluates them.
      {"b > a || index == index", [&] { (void)(b > a || i == j); }, O{0, 0, 0, 0, 2, 0, 1, 0}},
      // The first lane's index equals itself: one compare, a not, an and,
      // and the any that finds no other index to read.
      {"read_once_per_index",
       [&] {
         (void)lanes::read_once_per_index(
             i, CountedMask(true), [](int k) { return Counted(static_cast<float>(k)); },
             [](const CountedMask& here, Counted x, Counted y) { return lanes::select(here, x, y); });
       },
       O{0, 0, 0, 0, 1, 0, 3, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(count(c.work), c.expected) << c.what;
  }
}

// The counted is_integer takes its own branches: it must still answer as
// the scalar one does, at the edges of its range and for NaN and infinity.
TEST(CountingLanes, IsIntegerAnswersAsTheScalarOne) {
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {3.0f,         3.5f,          -0.0f, -16777216.0f, 16777216.0f, 16777218.0f,
                          -16777218.0f, 1e30f,         inf,   -inf,         std::numeric_limits<float>::quiet_NaN(),
                          0.49999997f,  2147483648.0f, -7.0f};
  for (const float v : values) {
    EXPECT_EQ(lanes::is_integer(Counted(v)).value(), lanes::is_integer(v)) << v;
  }
}

}  // namespace
