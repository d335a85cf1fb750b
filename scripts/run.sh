#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what is missing, build, and run the quick smoke
# tests of the library's by-name interface and error protocol.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja
ninja -C build
ctest --test-dir build --output-on-failure -j"$(nproc)" -R '^(Dispatch|ErrorProtocolTest)\.'
