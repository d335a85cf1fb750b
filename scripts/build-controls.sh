#!/usr/bin/env bash
# Builds the browser controls with emscripten in build-wasm/ and runs their tests under node.
# The served folder (tamsolo.js, tamsolo.wasm, tamsolo-loader.js) is build-wasm/controls-web.
# Without emscripten this skips, unless VANTREL_REQUIRE_CONTROLS=1 (CI), where it fails.
# --module builds the served folder only, without the tests, in a folder configured already as it
# is configured (the main job's, scripts/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${WASM_BUILD_DIR:-build-wasm}
module_only=0
[ "${1:-}" = --module ] && module_only=1
if ! command -v emcmake >/dev/null 2>&1; then
  if [ "${VANTREL_REQUIRE_CONTROLS:-0}" = 1 ]; then
    echo "build-controls: emscripten is missing (apt-get install emscripten)" >&2
    exit 1
  fi
  echo "build-controls: emscripten not installed, browser controls skipped" >&2
  exit 0
fi
# Debian's emscripten finds acorn only here; its cache stays the packaged one.
export NODE_PATH=/usr/share/nodejs
unset EM_CACHE
if [ "$module_only" = 0 ] || [ ! -f "$build/CMakeCache.txt" ]; then
  emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node;--no-experimental-fetch"
fi
if [ "$module_only" = 1 ]; then
  ninja -C "$build" ${NINJA_JOBS:+-j"$NINJA_JOBS"} tamsolo tamsolo_loader
  exit 0
fi
ninja -C "$build" ${NINJA_JOBS:+-j"$NINJA_JOBS"}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
