// The controls' URL requests over fetch. The page's cookies go with every request (same-origin
// credentials, HttpOnly ones too, which a page's script could never set as a header), nothing is
// cached, a relative URL is taken against the page, and the body's bytes travel unconverted both
// ways. The response body is read as a stream: one data call per piece, then exactly one end call
// after success, after an HTTP error page (its bytes are data) and after a network failure alike.
// A request nobody waits for any more (superseded, or its control gone) stops being read; one that
// cannot start makes no call at all.
mergeInto(LibraryManager.library, {
  tamsolo_transfer_start__deps: ['malloc', 'free'],
  tamsolo_transfer_start: function (method, url, contentType, body, bodySize, sink) {
    var init = { method: UTF8ToString(method), credentials: 'same-origin', cache: 'no-store' };
    var type = UTF8ToString(contentType);
    if (type) init.headers = { 'Content-Type': type };
    if (init.method !== 'GET') init.body = HEAPU8.slice(body, body + bodySize);
    var ended = false;
    function end(ok, status) {
      if (ended) return;
      ended = true;
      _tamsolo_transfer_end(sink, ok ? 1 : 0, status);
    }
    function piece(bytes) {
      if (!bytes.length) return;
      var p = _malloc(bytes.length);
      HEAPU8.set(bytes, p);
      _tamsolo_transfer_data(sink, p, bytes.length);
      _free(p);
    }
    // A URL that does not parse against the page starts nothing and calls its owner not once; the
    // caller drops the sink.
    var href;
    try {
      href = new URL(UTF8ToString(url), location.href).href;
    } catch (e) {
      return 0;
    }
    fetch(href, init).then(function (response) {
      if (!response.body) {
        end(response.ok, response.status);
        return;
      }
      var reader = response.body.getReader();
      function next() {
        return reader.read().then(function (r) {
          if (r.done) {
            end(response.ok, response.status);
            return;
          }
          piece(r.value);
          // A superseded request stops reading; its end is dropped on the C++ side.
          if (!_tamsolo_transfer_wanted(sink)) {
            reader.cancel();
            end(false, 0);
            return;
          }
          return next();
        });
      }
      return next();
    }).catch(function () {
      end(false, 0);
    });
    return 1;
  },
});
