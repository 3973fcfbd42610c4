#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only missing packages are installed, so a second run is quick and quiet.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev
  libpng-dev libjpeg-dev libgif-dev libtiff-dev libssl-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei
  xvfb xauth x11-apps
  clang libclang-rt-14-dev
)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(clang-format)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
