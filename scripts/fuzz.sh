#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time (FUZZ_SECONDS, default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF \
  -DVANTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C build-fuzz
shopt -s nullglob
for src in fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
  dict=()
  [ -f "fuzz/${name%_fuzz}.dict" ] && dict=(-dict="fuzz/${name%_fuzz}.dict")
  echo "== fuzzing $name for ${seconds}s"
  "build-fuzz/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "${dict[@]}" "$corpus"
done
