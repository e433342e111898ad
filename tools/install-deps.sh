#!/usr/bin/env bash
# Installs, with apt-get, the packages that building and testing need and
# that this machine lacks.  Quiet when everything is already there.
set -euo pipefail

packages=(
  cmake g++ clang make pkg-config
  libgtest-dev libbenchmark-dev
  libsleef-dev libtbb-dev libcli11-dev libpng-dev nlohmann-json3-dev
  freeglut3-dev libgl1-mesa-dev libgl1-mesa-dri
  xvfb xdotool
  ffmpeg
  libattr1-dev acl bindfs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "error: missing packages (${missing[*]}) and not root; install them and retry" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
