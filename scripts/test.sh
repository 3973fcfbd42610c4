#!/usr/bin/env bash
# Installs what is missing, builds everything under AddressSanitizer and UndefinedBehaviorSanitizer
# with warnings as errors, checks the formatting and runs every test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/test"

"$root/scripts/install-deps.sh" --test
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DSORVANE_SANITIZE=ON -DSORVANE_WERROR=ON \
  -DSORVANE_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

"$root/scripts/check-format.sh"

export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)"
