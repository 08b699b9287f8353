#!/usr/bin/env bash
# Builds the configurator and starts it on a simulated board (plus a
# simulated keyboard), from a folder that holds the two demo firmware images.
# Uses the user's display, or a virtual one (Xvfb) when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target KestrovaSetup make_demo_images

station="$build/station"
mkdir -p "$station"
cp "$build/app/KestrovaSetup" "$station/"
"$build/tools/make_demo_images" "$station"

export KESTROVA_SIM="${KESTROVA_SIM:-board,keyboard}"
export KESTROVA_SIM_DUMP="${KESTROVA_SIM_DUMP:-$PWD/$station/board-memory.txt}"
echo "demo: simulated devices: $KESTROVA_SIM; the board's memory is written to $KESTROVA_SIM_DUMP at exit"

if [ -z "${DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "demo: no display found; running on a virtual display (Xvfb :99). Screenshot: import -window root -display :99 shot.png"
  Xvfb :99 -screen 0 1600x900x24 >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  export DISPLAY=:99
  sleep 1
fi
cd "$station"
./KestrovaSetup
