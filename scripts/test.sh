#!/usr/bin/env bash
# Builds the browser controls (build-wasm/, tests under node), then everything native in build/
# and runs every test. The native build is told where the served controls are.
# VANTREL_SKIP_CONTROLS_BUILD=1 reuses build-wasm as it stands (the sanitizer pass).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
controls=()
if [ "${VANTREL_SKIP_CONTROLS_BUILD:-0}" != 1 ]; then
  scripts/build-controls.sh
fi
web="$PWD/${WASM_BUILD_DIR:-build-wasm}/controls-web"
if [ -f "$web/tamsolo.wasm" ]; then
  controls=("-DVANTREL_CONTROLS_DIR=$web")
elif [ "${VANTREL_REQUIRE_CONTROLS:-0}" = 1 ]; then
  echo "test.sh: the browser controls were not built ($web)" >&2
  exit 1
fi
cmake -S . -B "$build" -G Ninja "${controls[@]}" "$@"
ninja -C "$build"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
