#!/usr/bin/env bash
# Builds everything in build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja "$@"
ninja -C "$build"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
