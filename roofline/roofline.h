// The frame's roofline on this machine: how much arithmetic the trace does
// for one frame, counted by running it over the counting lane type, and how
// fast this CPU retires that arithmetic at the width of the kernel that
// traced the frame, measured by a short micro-benchmark.  Together they give the least time a
// frame can take here, whatever the code around the arithmetic does.
#pragma once

#include <string>

#include "kernel/trace.h"
#include "lanes/counting_lanes.h"

namespace roofline {

// The operations of tracing every pixel of a width x height frame, as the
// scalar trace does them (rays that have ended do no work).
lanes::OpCounts count_frame_ops(const SceneView& scene, int width, int height);

// Nanoseconds per lane of each kind of operation on one thread, when
// independent operations follow each other `lanes` lanes at a time.
struct Throughput {
  int lanes = 1;
  double division_ns = 0.0;
  double square_root_ns = 0.0;
  double power_ns = 0.0;
  double other_ns = 0.0;       // an even mix of multiplications and additions
  double compare_ns = 0.0;     // float less-than, giving a mask
  double select_ns = 0.0;      // a blend of two packs by a mask
  double mask_ns = 0.0;        // an even mix of and, not, or, and any and all tests
  double conversion_ns = 0.0;  // float to int32 and back, half each
};

// Runs for a few tens of milliseconds; takes the best of a few repeats.
// `lanes` is a kernel's width: 1 (one pixel a call) or the build's native
// pack width; any other throws std::invalid_argument.
Throughput measure_throughput(int lanes);

// Three resources work side by side, so the frame can go no faster than
// the busiest.  The divider takes divisions and square roots; the float
// pipes take powers (a few dozen multiply-adds each), the other
// arithmetic, compares, selects and conversions; mask operations have a
// time of their own (see frame_limit for the measurement behind that).
// Every time is the frame's work spread evenly over `threads` threads.
struct FrameLimit {
  double divider_ms = 0.0;
  double pipes_ms = 0.0;
  double mask_ms = 0.0;
  double limit_ms = 0.0;   // the largest of the three
  const char* bound = "";  // "divider", "float pipes" or "mask unit"
};

// `threads` of 0 or less count as one.
FrameLimit frame_limit(const lanes::OpCounts& ops, const Throughput& speed, int threads);

// A frame's roofline for the kernel that traced it: the frame's operations,
// this CPU's speeds at the kernel's `lanes`, and the limit they give on
// `threads` threads.  Takes as long as measure_throughput.
struct FrameRoofline {
  lanes::OpCounts ops;
  Throughput speed;
  FrameLimit limit;
};
FrameRoofline frame_roofline(const SceneView& scene, int width, int height, int lanes, int threads);

// One line for people: the limit and its bound, each resource's time, how
// far `measured_ms` is from the limit, and the count of every class.
std::string roofline_text(const FrameRoofline& roofline, double measured_ms);

}  // namespace roofline
