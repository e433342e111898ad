// What the encoder left: a whole MP4 file, and how many frames its video
// track holds.
#pragma once

#include <cstdint>
#include <optional>

namespace render_tool {

// For the file open at `fd`: empty when it is not a whole MP4 file (its
// boxes do not chain exactly to the end of the file, or the header, the
// media or the index, which the encoder writes last, is missing);
// otherwise the number of samples (frames) in its first video track, 0 when
// it has none.
std::optional<std::uint64_t> mp4_video_samples(int fd);

}  // namespace render_tool
