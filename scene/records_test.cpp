#include "scene/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// Hands out storage filled with 0xAB, so that a record built in it shows
// every byte its construction leaves unwritten.
template <class T>
struct DirtyAllocator {
  using value_type = T;
  DirtyAllocator() = default;
  template <class U>
  explicit DirtyAllocator(const DirtyAllocator<U>&) {}
  T* allocate(std::size_t n) {
    void* p = ::operator new(n * sizeof(T), std::align_val_t{alignof(T)});
    std::memset(p, 0xAB, n * sizeof(T));
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { ::operator delete(p, std::align_val_t{alignof(T)}); }
  bool operator==(const DirtyAllocator&) const = default;
};

// A record default-constructed in dirty storage.
template <class Record>
std::vector<Record, DirtyAllocator<Record>> one_default() {
  return std::vector<Record, DirtyAllocator<Record>>(1);
}

// Byte offset and value of every non-zero float.
template <class Record>
std::vector<std::pair<int, float>> non_zero_floats(const Record& r) {
  std::vector<float> floats(sizeof(Record) / sizeof(float));
  std::memcpy(floats.data(), &r, sizeof(Record));
  std::vector<std::pair<int, float>> out;
  for (std::size_t i = 0; i < floats.size(); ++i) {
    if (floats[i] != 0.0f) out.emplace_back(static_cast<int>(i * 4), floats[i]);
  }
  return out;
}

using Floats = std::vector<std::pair<int, float>>;

// Every byte is written: zero except each w and the light's parameter
// defaults, wherever the record is built.
TEST(SceneRecords, DefaultConstructionWritesEveryByte) {
  EXPECT_EQ(non_zero_floats(one_default<Vec4>()[0]), (Floats{{12, 1.0f}}));
  EXPECT_EQ(non_zero_floats(one_default<Sphere>()[0]), (Floats{{12, 1.0f}}));
  EXPECT_EQ(non_zero_floats(one_default<Material>()[0]), (Floats{{12, 1.0f}}));
  EXPECT_EQ(non_zero_floats(one_default<PointLight>()[0]), (Floats{{12, 1.0f},
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

}  // namespace
