#!/usr/bin/env bash
# Takes a screenshot of the tool as a person sees it: a real X server (Xvfb) with a window
# manager drawing the frame, the demo samples loaded and the first one on display.
# Usage: scripts/screenshot.sh [output.png]   (default: docs/screenshot.png)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
output=$(realpath -m "${1:-$root/docs/screenshot.png}")

"$root/scripts/install-deps.sh"
need=()
for tool in openbox xdotool import; do
  command -v "$tool" >/dev/null || need+=("$tool")
done
if [[ ${#need[@]} -gt 0 ]]; then
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    openbox xdotool imagemagick
fi

build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSORVANE_TESTS=OFF >/dev/null
cmake --build "$build" --target sorvane -j"$(nproc)"

# A run directory of its own, so the screenshot never touches a real resume point.
run=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$run"' EXIT
cp "$build/bin/sorvane" "$run/"
cp -r "$root/demo/samples" "$run/samples"

display=:97
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp &
sleep 1
export DISPLAY=$display
openbox &
sleep 1
"$run/sorvane" 2>/dev/null &
window=""
for _ in $(seq 50); do
  window=$(xdotool search --onlyvisible --name '^Sorvane$' 2>/dev/null | head -n 1) && [[ -n "$window" ]] && break
  sleep 0.2
done
[[ -n "$window" ]] || { echo "the window did not appear" >&2; exit 1; }
xdotool windowactivate --sync "$window"
sleep 0.5
xdotool mousemove --window "$window" 170 32 click 1   # into the path box
xdotool key Return   # an empty path box loads the samples beside the tool
sleep 0.5
xdotool key Tab       # leave the path box, then step to the first sample
xdotool key Right
sleep 0.5
xdotool key 2         # the picture says aB3x: correct the second character
sleep 0.5

mkdir -p "$(dirname "$output")"
import -window root -crop 467x447+166+76 +repage "$output"
echo "wrote $output"
