#!/usr/bin/env python3
"""Captures a multipart/form-data body exactly as headless Chromium posts it.

Serves a page on loopback whose script builds a FormData (two text fields and a binary Blob
file) and POSTs it with fetch; the server saves the raw request body.

    python3 capture_chromium_multipart.py chromium_multipart.bin
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

PAGE = r"""<!DOCTYPE html>
<html><head><meta charset="utf-8"></head><body><p id="state">waiting</p>
<script>
const fd = new FormData();
fd.append("Title", "Grüße – 日本語 <b>bold</b> &lt;i&gt; &amp; more");
fd.append("Comments", "line one\r\nline two");
const bytes = [];
for (let i = 0; i < 256; i++) bytes.push(i);
const crlfRuns = [13, 10, 13, 10, 13, 10, 13, 13, 10, 10, 13, 10];
const tail = Array.from(new TextEncoder().encode("\r\n------WebKitFormBoundary\r\n--\r\n"));
const data = new Uint8Array([...bytes, ...crlfRuns, ...bytes.slice().reverse(), ...tail, 13, 10]);
fd.append("Attachment", new Blob([data], {type: "application/octet-stream"}), "bytes.bin");
fetch("/upload", {method: "POST", body: fd})
  .then(r => r.text())
  .then(t => { document.getElementById("state").textContent = "posted " + t; });
</script></body></html>
"""


class Handler(http.server.BaseHTTPRequestHandler):
    body = None

    def do_GET(self):
        page = PAGE.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    def do_POST(self):
        length = int(self.headers["Content-Length"])
        Handler.body = self.rfile.read(length)
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def log_message(self, *args):
        pass


def main():
    out = sys.argv[1]
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/" % server.server_address[1]
    with tempfile.TemporaryDirectory() as profile:
        dom = subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile, "--virtual-time-budget=5000",
             "--dump-dom", url],
            capture_output=True, timeout=120, check=False).stdout.decode("utf-8", "replace")
    server.shutdown()
    if Handler.body is None or "posted ok" not in dom:
        sys.exit("no body captured")
    with open(out, "wb") as f:
        f.write(Handler.body)
    print("captured %d bytes" % len(Handler.body))


if __name__ == "__main__":
    main()
