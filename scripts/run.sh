#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it. The first start puts the demo samples
# into the default sample folder beside the executable.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/release"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target sorvane -j"$(nproc)"

samples="$build/bin/samples"
if [[ ! -e "$samples" ]]; then
  cp -r "$root/demo/samples" "$samples"
fi
exec "$build/bin/sorvane"
