#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need,
# only those that are missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  libpugixml-dev libudev-dev
  libgtest-dev googletest
  umockdev libumockdev-dev acl
  srecord unrtf
  xvfb xauth x11-apps imagemagick
  g++-mingw-w64-x86-64-posix wine64
  clang libclang-rt-14-dev
  fonts-dejavu-core
  dpkg-dev file lintian desktop-file-utils appstream xdotool
  bash-completion jq
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
