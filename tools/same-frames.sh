#!/usr/bin/env bash
# Usage: tools/same-frames.sh REFERENCE_RENDER OTHER_RENDER
#
# Checks that two builds of velmora-render (say GCC's and Clang's) write the
# same pixel words, word for word, for a few frames: the start-up frame and
# frames along the animation, at the window's size and at others, with each
# CPU kernel that the reference build's --help lists.  Prints the first frame that
# differs, with how many of its words do, and exits non-zero then.
set -euo pipefail

if (($# != 2)); then
  echo "usage: $0 REFERENCE_RENDER OTHER_RENDER" >&2
  exit 2
fi
reference=$1
other=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each line: the frame's options.
frames=(
  "--initial"
  "--clock 2.5"
  "--clock 4.75 --size 320x240"
  "--clock 6.1 --size 1280x960"
)

# The kernels as the usage line names them: "[--kernel simd|scalar]".
read -r -a kernels <<<"$("$reference" --help | sed -n 's/.*\[--kernel \([a-z|]*\)\].*/\1/p' | head -n 1 | tr '|' ' ')"
if ((${#kernels[@]} == 0)); then
  echo "error: $reference --help names no kernels" >&2
  exit 1
fi

checked=0
for frame in "${frames[@]}"; do
  for kernel in "${kernels[@]}"; do
    # shellcheck disable=SC2086  # the options are words on purpose
    "$reference" $frame --kernel "$kernel" --raw "$work/reference.raw" >/dev/null
    # shellcheck disable=SC2086
    "$other" $frame --kernel "$kernel" --raw "$work/other.raw" >/dev/null
    if ! cmp -s "$work/reference.raw" "$work/other.raw"; then
      differing=$(cmp -l "$work/reference.raw" "$work/other.raw" 2>/dev/null |
        awk '{ words[int(($1 - 1) / 4)] = 1 } END { print length(words) }' || true)
      words=$(($(stat -c %s "$work/reference.raw") / 4))
      echo "error: frames differ ($frame --kernel $kernel): $differing of $words words" >&2
      echo "  reference: $reference" >&2
      echo "  other:     $other" >&2
      exit 1
    fi
    checked=$((checked + 1))
  done
done
echo "Same frames, word for word: $checked frames of $other and $reference"
