#!/usr/bin/env bash
# Runs the loader over a file:// page in headless Chromium with the test build of the module and
# checks what the page saw: the logo drawn (recorded calls) for a classid and for a data-progid,
# a PARAM in its property, a `script for` block run only on its event, a veto keeping the value,
# onreadystatechange seeing 4, the keyboard taking no space, design mode, a later OBJECT
# attached, the canvas backend recording the same calls as the native records, the controls'
# requests (pieces then one end, a superseded request silent, a failure only the end, the POST's
# body and type, URLs canonical and within their buffer), no script error.
# Usage: chromium_check.sh MODULE_DIR PAGE
set -euo pipefail
module=$1
page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$module/tamsolo.js" "$module/tamsolo.wasm" "$module/tamsolo-loader.js" "$work/"
cp "$page" "$work/page.html"
dom=$(timeout 60 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --allow-file-access-from-files --virtual-time-budget=10000 \
  --dump-dom "file://$work/page.html" 2>/dev/null)
fail=0
expect() {
  if ! grep -qF -- "$1" <<<"$dom"; then
    echo "missing: $1"
    fail=1
  fi
}
expect 'id="Logo1" width="136px" height="87px" data-tamsolo-record="" data-tamsolo-calls="DrawImage 243 0,0 0,0,136,87"'
expect 'id="Logo2" width="100" height="50" data-tamsolo-record="" data-tamsolo-calls="DrawImage 243 0,0 0,0,100,50"'
expect 'data-tamsolo-calls="FillRect 0,0,60,20 D4D0C8'
expect 'data-log="caption from param|loaded before none|level 0|error 13 Type mismatch|ready 4|loaded go|other none|keyboard 0x0 0|modes true false|attach control none|box Probe: Save changes?|dialog 1 0"'
expect 'data-answered="7 0"'
expect 'data-pattern="FillRect 0,0,60,20 D4D0C8|FrameRect 0,0,60,20 000000|SetPen Dot 808080|MoveTo 2,18|LineTo 58,18|Polyline 2,2 10,10 18,2|SetFont Arial 11|SetTextColor 000080|DrawText 20,2,58,16 8020 Probe text|CreateSurface 1 4x4|[1] FillRect 0,0,4,4 FF0000|Blit 1 50,4"'
expect 'data-fetched="hello there 200"'
expect 'data-transfers="ids 1 2 3 4 5 0 0;1 café au lait|end;3 second|end;4 end;5 ended"'
expect 'data-requests="GET data:text/plain,hello%20there same-origin no-store  ;GET data:text/plain;charset=utf-8,caf%C3%A9%20au%20lait same-origin no-store  ;GET data:text/plain,first same-origin no-store  ;GET blob: same-origin no-store  ;GET http://127.0.0.1:9/none same-origin no-store  ;POST data:text/plain,saved same-origin no-store multipart/form-data; boundary=-----------------------------7d114d2a100b3e Café\r\n-----------------------------7d114d2a100b3e--\r\n"'
expect 'id="Later" width="20" height="10" data-tamsolo-record="" data-tamsolo-calls="DrawImage 243 0,0 0,0,20,10"'
if grep -q 'data-error=\|data-unloaded=' <<<"$dom"; then
  echo "unexpected script error or event"
  fail=1
fi
if [ "$fail" = 1 ]; then
  echo "$dom"
  exit 1
fi
echo "chromium check passed"
