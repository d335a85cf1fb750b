#!/usr/bin/env bash
# Measures, in headless Chromium, the time from DOMContentLoaded to 'tamsoloready' (the loader
# writes it on <html data-tamsolo-ready-ms>); aim: under 300 ms.
#   bench-controls.sh           over loopback: a signed-in page of vantrel-site, 20 loads, by
#                               $BUILD_DIR/bench/controls_ready_bench (default build/; configured
#                               with -DVANTREL_BENCH=ON and -DVANTREL_CONTROLS_DIR)
#   bench-controls.sh --file    a page with two logos beside build-wasm/controls-web over file://,
#                               each run and the median of $RUNS (default 7)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != "--file" ]; then
  bench=${BUILD_DIR:-build}/bench/controls_ready_bench
  if [ ! -x "$bench" ]; then
    echo "bench-controls: $bench is missing (ninja -C ${BUILD_DIR:-build} controls_ready_bench)" >&2
    exit 1
  fi
  exec "$bench"
fi
runs=${RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build-wasm/controls-web/tamsolo.js build-wasm/controls-web/tamsolo.wasm \
   build-wasm/controls-web/tamsolo-loader.js "$work/"
cat > "$work/page.html" <<'HTML'
<html><body>
<object classid='clsid:BC779345-11EC-4E18-8171-76CD0A6BAC9A' id=Logo1 width=136 height=87></object>
<object data-progid='Tamsolo.QELLogo' id=Logo2 width=136 height=87></object>
<script src=tamsolo.js></script><script src=tamsolo-loader.js></script>
</body></html>
HTML
url="file://$work/page.html"
times=()
for i in $(seq "$runs"); do
  dom=$(timeout 60 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile$i" --allow-file-access-from-files --virtual-time-budget=10000 \
    --dump-dom "$url" 2>/dev/null)
  ms=$(grep -o 'data-tamsolo-ready-ms="[0-9]*"' <<<"$dom" | grep -o '[0-9]*' || true)
  if [ -z "$ms" ]; then
    echo "run $i: the page never reached tamsoloready" >&2
    exit 1
  fi
  echo "run $i: ${ms} ms"
  times+=("$ms")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
echo "DOMContentLoaded to tamsoloready, median of $runs: ${median} ms (aim under 300 ms)"
