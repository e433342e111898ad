#include "scene/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// The records as they start in static storage: zero-initialised, then
// default-constructed.  Only the bytes a constructor writes may differ.
Vec4 static_vec4;
Sphere static_sphere;
Material static_material;
PointLight static_light;

template <class Record>
std::vector<float> floats_of(const Record& r) {
  std::vector<float> out(sizeof(Record) / sizeof(float));
  std::memcpy(out.data(), &r, sizeof(Record));
  return out;
}

// Byte offset and value of every non-zero float.
template <class Record>
std::vector<std::pair<int, float>> non_zero_floats(const Record& r) {
  std::vector<std::pair<int, float>> out;
  const auto floats = floats_of(r);
  for (std::size_t i = 0; i < floats.size(); ++i) {
    if (floats[i] != 0.0f) out.emplace_back(static_cast<int>(i * 4), floats[i]);
  }
  return out;
}

using Floats = std::vector<std::pair<int, float>>;

TEST(SceneRecords, DefaultConstructionWritesOnlyTheListedValues) {
  EXPECT_EQ(non_zero_floats(static_vec4), (Floats{{12, 1.0f}}));
  EXPECT_EQ(non_zero_floats(static_sphere), (Floats{{12, 1.0f}}));
  EXPECT_EQ(non_zero_floats(static_material), (Floats{{12, 1.0f}}));
  EXPECT_EQ(non_zero_floats(static_light), (Floats{{12, 1.0f},
                                                   {16, 1.0f},
                                                   {32, 1.0f},
                                                   {36, 0.05f},
                                                   {40, 0.001f},
                                                   {60, 1.0f}}));
}

TEST(SceneRecords, MaterialByteIsOffset24AndLeavesTheReservedBytes) {
  Sphere s;
  unsigned char bytes[sizeof(Sphere)];
  std::memset(bytes, 0xAB, sizeof(bytes));
  std::memcpy(&s, bytes, sizeof(bytes));
  s.material = 7;
  std::memcpy(bytes, &s, sizeof(bytes));
  EXPECT_EQ(bytes[24], 7);
  for (int i = 25; i < 32; ++i) EXPECT_EQ(bytes[i], 0xAB) << "byte " << i;
}

TEST(SceneRecords, CopiesCarryReservedBytes) {
  Material a;
  std::memset(static_cast<void*>(&a), 0x5C, sizeof(a));
  const Material b = a;
  EXPECT_EQ(std::memcmp(&a, &b, sizeof(a)), 0);
}

}  // namespace
