// The page side of the screen capture: the browser's picker (getDisplayMedia, which needs a user's
// gesture and a secure page) gives one frame of a screen, window or tab, kept as a canvas; the
// preview is an in-page frame with a menu and a scrolling view; the save dialog is an in-page
// box; the saved file is a File held as the element's SavedFile and offered as a download.
mergeInto(LibraryManager.library, {
  $TamsoloCapture__deps: ['$TamsoloHost'],
  $TamsoloCapture: {
    pictures: {},
    next: 1,
    frames: {},  // by host: the preview frame

    // "&Save and Exit": the letter after "&" underlined.
    label: function (element, text) {
      var at = text.indexOf('&');
      if (at < 0 || at + 1 >= text.length) {
        element.textContent = text.replace('&', '');
        return;
      }
      element.appendChild(document.createTextNode(text.slice(0, at)));
      var u = document.createElement('u');
      u.textContent = text.charAt(at + 1);
      element.appendChild(u);
      element.appendChild(document.createTextNode(text.slice(at + 2)));
    },

    titleBar: function (text, onClose) {
      var bar = document.createElement('div');
      bar.className = 'tamsolo-frame-title';
      bar.style.cssText = 'background:#0A246A;color:#FFFFFF;font-weight:bold;padding:3px 5px;display:flex';
      var title = document.createElement('span');
      title.textContent = text;
      title.style.flex = '1';
      bar.appendChild(title);
      if (onClose) {
        var close = document.createElement('button');
        close.className = 'tamsolo-frame-close';
        close.textContent = '\u00d7';
        close.style.cssText = 'font:bold 10px sans-serif;padding:0 4px';
        close.addEventListener('click', onClose);
        bar.appendChild(close);
      }
      return bar;
    },

    // The File menu: its title opens the list of commands; a separator has no text.
    menu: function (menuText, items, command) {
      var bar = document.createElement('div');
      bar.className = 'tamsolo-menu-bar';
      bar.style.cssText = 'border-bottom:1px solid #808080;padding:2px 4px;position:relative';
      var title = document.createElement('span');
      title.className = 'tamsolo-menu';
      TamsoloCapture.label(title, menuText);
      title.style.cssText = 'padding:1px 6px;cursor:default';
      var list = document.createElement('div');
      list.className = 'tamsolo-menu-items';
      list.style.cssText = 'display:none;position:absolute;left:4px;top:100%;background:#D4D0C8;' +
        'border:2px outset #FFFFFF;z-index:1;min-width:130px';
      items.forEach(function (item) {
        if (!item.text) {
          var line = document.createElement('hr');
          line.style.margin = '2px 0';
          list.appendChild(line);
          return;
        }
        var b = document.createElement('button');
        b.setAttribute('data-command', String(item.command));
        TamsoloCapture.label(b, item.text);
        b.disabled = !item.enabled;
        b.style.cssText = 'display:block;width:100%;text-align:left;border:0;background:none;padding:2px 14px';
        b.addEventListener('click', function () {
          list.style.display = 'none';
          command(item.command);
        });
        list.appendChild(b);
      });
      title.addEventListener('click', function () {
        list.style.display = list.style.display === 'none' ? 'block' : 'none';
      });
      bar.appendChild(title);
      bar.appendChild(list);
      return bar;
    },

    box: function (className) {
      var e = document.createElement('div');
      e.className = className;
      e.setAttribute('role', 'dialog');
      e.style.cssText = 'position:fixed;left:40px;top:40px;z-index:10000;background:#D4D0C8;' +
        'border:2px outset #FFFFFF;font:11px "Liberation Sans",sans-serif;color:#000000';
      return e;
    },
  },

  tamsolo_capture_pick__deps: ['$TamsoloCapture'],
  tamsolo_capture_pick: function (id, done) {
    var media = navigator.mediaDevices;
    if (!media || !media.getDisplayMedia) {
      _tamsolo_capture_picked(done, 2, 0, 1, 1);
      return;
    }
    var options = (window.Tamsolo && window.Tamsolo.displayMediaOptions) || { video: true };
    var stream = null;
    media.getDisplayMedia(options).then(function (s) {
      stream = s;
      var video = document.createElement('video');
      video.muted = true;
      video.srcObject = stream;
      return video.play().then(function () {
        // One frame, at the track's size.
        return new Promise(function (resolve) {
          if (video.requestVideoFrameCallback) video.requestVideoFrameCallback(function () { resolve(); });
          setTimeout(resolve, 500);
        });
      }).then(function () {
        var canvas = document.createElement('canvas');
        canvas.width = video.videoWidth || 1;
        canvas.height = video.videoHeight || 1;
        canvas.getContext('2d').drawImage(video, 0, 0);
        stream.getTracks().forEach(function (t) { t.stop(); });
        var picture = TamsoloCapture.next++;
        TamsoloCapture.pictures[picture] = canvas;
        _tamsolo_capture_picked(done, 0, picture, canvas.width, canvas.height);
      });
    }).catch(function () {
      if (stream) stream.getTracks().forEach(function (t) { t.stop(); });
      _tamsolo_capture_picked(done, 1, 0, 1, 1);
    });
  },

  tamsolo_capture_pixels__deps: ['$TamsoloCapture'],
  tamsolo_capture_pixels: function (picture, out, count) {
    var canvas = TamsoloCapture.pictures[picture];
    if (!canvas) return 0;
    var data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    var n = Math.min(count, canvas.width * canvas.height);
    for (var i = 0; i < n; i++)
      HEAPU32[(out >> 2) + i] = ((data[4 * i] << 16) | (data[4 * i + 1] << 8) | data[4 * i + 2]) >>> 0;
    return n;
  },

  tamsolo_capture_preview__deps: ['$TamsoloCapture'],
  tamsolo_capture_preview: function (id, title, menu, items, picture, width, height, command) {
    var old = TamsoloCapture.frames[id];
    if (old) old.remove();
    var frame = TamsoloCapture.box('tamsolo-capture-frame');
    frame.appendChild(TamsoloCapture.titleBar(UTF8ToString(title), function () { frame.style.display = 'none'; }));
    frame.appendChild(TamsoloCapture.menu(UTF8ToString(menu), JSON.parse(UTF8ToString(items)), function (c) {
      _tamsolo_preview_command(command, c);
    }));
    var view = document.createElement('div');
    view.className = 'tamsolo-capture-view';
    view.style.cssText = 'overflow:auto;width:640px;height:400px;background:#FFFFFF;border:2px inset #FFFFFF';
    var shown = document.createElement('canvas');
    shown.width = width;
    shown.height = height;
    shown.style.display = 'block';
    var source = TamsoloCapture.pictures[picture];
    if (source) shown.getContext('2d').drawImage(source, 0, 0);
    view.appendChild(shown);
    frame.appendChild(view);
    document.body.appendChild(frame);
    TamsoloCapture.frames[id] = frame;
  },

  tamsolo_capture_hide__deps: ['$TamsoloCapture'],
  tamsolo_capture_hide: function (id) {
    var frame = TamsoloCapture.frames[id];
    if (frame) frame.style.display = 'none';
  },

  tamsolo_capture_ask_name__deps: ['$TamsoloCapture', 'malloc'],
  tamsolo_capture_ask_name: function (id, json, done) {
    var d = JSON.parse(UTF8ToString(json));
    var veil = document.createElement('div');
    veil.className = 'tamsolo-modal';
    veil.style.cssText = 'position:fixed;left:0;top:0;right:0;bottom:0;z-index:10001;background:rgba(0,0,0,0.2)';
    var box = TamsoloCapture.box('tamsolo-save-dialog');
    box.style.zIndex = '10002';
    box.appendChild(TamsoloCapture.titleBar(d.title, null));
    var body = document.createElement('div');
    body.style.cssText = 'padding:10px;display:grid;grid-template-columns:auto 220px;gap:6px 8px';
    var name = document.createElement('input');
    name.className = 'tamsolo-save-name';
    name.value = d.fileName;
    var type = document.createElement('select');
    type.className = 'tamsolo-save-type';
    d.filters.forEach(function (f) {
      var o = document.createElement('option');
      o.textContent = f[0];
      o.value = f[1];
      type.appendChild(o);
    });
    [['File name:', name], ['Save as type:', type]].forEach(function (row) {
      var l = document.createElement('label');
      l.textContent = row[0];
      body.appendChild(l);
      body.appendChild(row[1]);
    });
    var buttons = document.createElement('div');
    buttons.style.cssText = 'grid-column:2;text-align:right';
    function answer(ok) {
      veil.remove();
      box.remove();
      var p = 0;
      if (ok) {
        var n = lengthBytesUTF8(name.value) + 1;
        p = _malloc(n);
        stringToUTF8(name.value, p, n);
      }
      _tamsolo_save_named(done, p, ok ? type.selectedIndex : 0);
    }
    [['Save', 'tamsolo-save-ok', true], ['Cancel', 'tamsolo-save-cancel', false]].forEach(function (b) {
      var button = document.createElement('button');
      button.textContent = b[0];
      button.className = b[1];
      button.style.cssText = 'min-width:70px;margin-left:6px';
      button.addEventListener('click', function () { answer(b[2]); });
      buttons.appendChild(button);
    });
    body.appendChild(buttons);
    box.appendChild(body);
    document.body.appendChild(veil);
    document.body.appendChild(box);
    name.focus();
  },

  tamsolo_capture_make_file__deps: ['$TamsoloCapture', '$TamsoloHost'],
  tamsolo_capture_make_file: function (id, name, picture, bytes, size, done) {
    var h = TamsoloHost.get(id);
    var fileName = UTF8ToString(name);
    function made(blob, type) {
      if (!blob || !h) {
        _tamsolo_file_made(done, 0);
        return;
      }
      var file = new File([blob], fileName, { type: type });
      h.element.SavedFile = file;
      var link = document.createElement('a');
      link.href = URL.createObjectURL(file);
      link.download = fileName;
      link.click();
      setTimeout(function () { URL.revokeObjectURL(link.href); }, 60000);
      _tamsolo_file_made(done, 1);
    }
    if (bytes) {
      made(new Blob([HEAPU8.slice(bytes, bytes + size)]), 'image/bmp');
      return;
    }
    var canvas = TamsoloCapture.pictures[picture];
    if (!canvas) made(null, '');
    else canvas.toBlob(function (blob) { made(blob, 'image/jpeg'); }, 'image/jpeg', 1.0);
  },
});
