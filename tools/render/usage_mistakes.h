// The command lines velmora-render refuses as mistakes of usage, each with
// a part of the one line it prints.  The parser's tests and the whole
// program's run every case: the parser answers with that line and status
// 2; the program prints it on standard error, exits with 2 and leaves
// nothing behind.  Paths are relative, to the folder the program runs in.
#pragma once

#include <string>
#include <vector>

namespace render_tool {

struct UsageMistake {
  std::vector<std::string> args;
  std::string mentions;
};

inline const std::vector<UsageMistake>& usage_mistakes() {
  static const std::vector<UsageMistake> cases = {
      {{"--bogus"}, "--bogus"},
      {{"stray"}, "stray"},
      {{"--clock", "abc"}, "'abc' is not a number"},
      {{"--clock", "1.5x"}, "'1.5x' is not a number"},
      {{"--clock", "nan"}, "'nan' is not a finite number"},
      {{"--clock", "inf"}, "'inf' is not a finite number"},
      {{"--clock"}, "--clock"},
      {{"--frames", "-3", "--out-dir", "d"}, "'-3' is out of range"},
      {{"--frames", "0", "--out-dir", "d"}, "'0' is out of range"},
      {{"--frames", "99999999999", "--out-dir", "d"}, "'99999999999' is out of range"},
      {{"--frames", "2.5", "--out-dir", "d"}, "'2.5' is not a whole number"},
      // Other bases are refused, not read as octal, hexadecimal or binary.
      {{"--frames", "0x10", "--out-dir", "d"}, "'0x10' is not a whole number in decimal"},
      {{"--frames", "0b11", "--out-dir", "d"}, "'0b11' is not a whole number in decimal"},
      {{"--frames", "0o17", "--out-dir", "d"}, "'0o17' is not a whole number in decimal"},
      {{"--frames", "000", "--out-dir", "d"}, "'000' is out of range"},
      {{"--frames", "-010", "--out-dir", "d"}, "'-010' is out of range"},
      {{"--frames", "0000000000000000000000002", "--out-dir", "d", "--threads", "0x2"},
       "'0x2' is not a whole number in decimal"},
      {{"--threads", "1e3"}, "'1e3' is not a whole number in decimal"},
      {{"--clock", "0x10"}, "'0x10' is not a number in decimal"},
      {{"--bench", "--seconds", "0x1p3"}, "'0x1p3' is not a number in decimal"},
      {{"--size", "0x10x8"}, "'0x10x8' is not a size"},
      {{"--frames", "3"}, "--frames needs --out-dir"},
      {{"--out-dir", "d"}, "--out-dir needs --frames"},
      {{"--video", "v.mp4"}, "--video needs --frames"},
      {{"--frames", "2", "--out-dir", "d", "--out", "x.png"}, "--out cannot be used with --"},
      {{"--frames", "2", "--out-dir", "d", "--json"}, "--json needs --bench"},
      {{"--frames", "2", "--out-dir", "d", "--rate", "0"}, "'0' is out of range"},
      {{"--frames", "2", "--out-dir", ""}, "--out-dir: the name is empty"},
      {{"--frames", "2", "--out-dir", "d", "--video", ""}, "--video: the name is empty"},
      {{"--initial", "--clock", "1"}, "--initial cannot be used with --clock"},
      {{"--verify", "--out", "x.png"}, "--out cannot be used with --verify"},
      {{"--verify", "--raw", "-"}, "cannot be used with --verify"},
      {{"--verify", "--bench"}, "--verify cannot be used with --bench"},
      {{"--bench", "--out", "x.png"}, "--out cannot be used with --bench"},
      {{"--bench", "--frames", "2", "--out-dir", "d"}, "--frames cannot be used with --bench"},
      {{"--bench", "--seconds", "-1"}, "'-1' is out of range"},
      {{"--bench", "--compare", "--kernel", "simd"}, "--compare cannot be used with --kernel"},
      {{"--json"}, "--json needs --bench"},
      {{"--seconds", "1"}, "--seconds needs --bench"},
      {{"--rate", "30"}, "--rate needs --frames or --bench"},
      {{"--kernel", "avx"}, "'avx' is not a kernel"},
      {{"--threads", "0"}, "'0' is out of range"},
      {{"--threads", "two"}, "'two' is not a whole number"},
      {{"--out", ""}, "--out: the name is empty"},
      // Values that are fine doubles but not fine single-precision numbers,
      // which is what the kernel and the animation clock compute in.
      {{"--clock", "1e300"}, "'1e300' is too large: it becomes infinite in single precision"},
      {{"--clock", "-4e38"}, "'-4e38' is too large"},
      {{"--clock", "1e-320"}, "'1e-320' is too small: it becomes 0 in single precision"},
      {{"--clock", "1e-40"}, "'1e-40' is too small: it is subnormal in single precision"},
      {{"--frames", "2", "--out-dir", "d", "--rate", "1e-300"}, "'1e-300' is too small: it becomes 0"},
      {{"--frames", "2", "--out-dir", "d", "--rate", "1e300"}, "'1e300' is too large"},
      {{"--frames", "2", "--out-dir", "d", "--rate", "1e-30"}, "'1e-30' is out of range (must be from 0.001"},
      {{"--bench", "--rate", "1e-44"}, "'1e-44' is too small: it is subnormal"},
      {{"--bench", "--seconds", "1e-320"}, "'1e-320' is too small: it becomes 0"},
      {{"--bench", "--seconds", "0"}, "'0' is out of range"},
      {{"--bench", "--compare", "--threads", "2"}, "--compare"},
      {{"--compare"}, "--compare needs --bench"},
      {{"--size", "100x100"}, "'100x100' is not made of whole 8 x 8 blocks"},
      {{"--size", "640x479"}, "'640x479' is not made of whole 8 x 8 blocks"},
      {{"--size", "0x480"}, "'0x480' is out of range"},
      {{"--size", "16384x8"}, "'16384x8' is out of range"},
      {{"--size", "640"}, "'640' is not a size WIDTHxHEIGHT"},
      {{"--size", "640*480"}, "'640*480' is not a size WIDTHxHEIGHT"},
      {{"--size", "-8x8"}, "--size"},
      {{"--size", "320x240,640x480"}, "several sizes only with --bench"},
      {{"--bench", "--compare", "--size", "64x48,128x96"}, "several sizes only with --bench"},
      {{"--bench", "--size", "64x48,64x47"}, "'64x47' is not made of whole 8 x 8 blocks"},
      {{"--frames", "2", "--out-dir", "anim", "--size", "8x8", "--size", "16x16"}, "several sizes"},
  };
  return cases;
}

}  // namespace render_tool
