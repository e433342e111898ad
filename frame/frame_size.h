// The size of a frame: the window's unless asked otherwise.
#pragma once

#include <cstddef>

#include "scene/scene.h"

struct FrameSize {
  int width = kFrameWidth;
  int height = kFrameHeight;

  std::size_t pixel_count() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
  bool operator==(const FrameSize&) const = default;
};
