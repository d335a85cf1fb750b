// The page side of tamsolo::WebHost. Each control's record in Module.tamsoloHosts is made by the
// loader: { element, canvas, width, height, userMode, recording, requestEdit(dispid),
// changed(dispid), fire(name, args), invalidate(), record(line), resize(width, height) }.
mergeInto(LibraryManager.library, {
  $TamsoloHost: {
    get: function (id) {
      return (Module['tamsoloHosts'] || {})[id];
    },
    elements: {},
    next: 1,
    // Icons of the message box, by MB_ICON value.
    icons: { 16: '\u26d4', 32: '?', 48: '\u26a0', 64: '\u2139' },
    // Buttons (label and answer) by MB_ type.
    buttons: {
      0: [['OK', 1]],
      1: [['OK', 1], ['Cancel', 2]],
      3: [['Yes', 6], ['No', 7], ['Cancel', 2]],
      4: [['Yes', 6], ['No', 7]],
    },
  },

  tamsolo_host_request_edit__deps: ['$TamsoloHost'],
  tamsolo_host_request_edit: function (id, dispid) {
    var h = TamsoloHost.get(id);
    return !h || h.requestEdit(dispid) ? 1 : 0;
  },

  tamsolo_host_changed__deps: ['$TamsoloHost'],
  tamsolo_host_changed: function (id, dispid) {
    var h = TamsoloHost.get(id);
    if (h) h.changed(dispid);
  },

  tamsolo_host_fire__deps: ['$TamsoloHost'],
  tamsolo_host_fire: function (id, event, args) {
    var h = TamsoloHost.get(id);
    if (h) h.fire(UTF8ToString(event), JSON.parse(UTF8ToString(args)));
  },

  tamsolo_host_invalidate__deps: ['$TamsoloHost'],
  tamsolo_host_invalidate: function (id) {
    var h = TamsoloHost.get(id);
    if (h) h.invalidate();
  },

  tamsolo_host_width__deps: ['$TamsoloHost'],
  tamsolo_host_width: function (id) {
    var h = TamsoloHost.get(id);
    return h ? h.width : 0;
  },

  tamsolo_host_height__deps: ['$TamsoloHost'],
  tamsolo_host_height: function (id) {
    var h = TamsoloHost.get(id);
    return h ? h.height : 0;
  },

  // The loader sizes the element and its canvas, then tells the control (host.resize).
  tamsolo_host_request_size__deps: ['$TamsoloHost'],
  tamsolo_host_request_size: function (id, width, height) {
    var h = TamsoloHost.get(id);
    if (h && h.resize) h.resize(width, height);
  },

  tamsolo_host_user_mode__deps: ['$TamsoloHost'],
  tamsolo_host_user_mode: function (id) {
    var h = TamsoloHost.get(id);
    return !h || h.userMode ? 1 : 0;
  },

  tamsolo_host_recording__deps: ['$TamsoloHost'],
  tamsolo_host_recording: function (id) {
    var h = TamsoloHost.get(id);
    return h && h.recording ? 1 : 0;
  },

  tamsolo_host_record__deps: ['$TamsoloHost'],
  tamsolo_host_record: function (id, line) {
    var h = TamsoloHost.get(id);
    if (h) h.record(UTF8ToString(line));
  },

  // A modal box inside the page: a veil over everything, the title bar, icon, text and buttons.
  tamsolo_host_message_box__deps: ['$TamsoloHost'],
  tamsolo_host_message_box: function (id, text, title, icon, buttons, done) {
    var veil = document.createElement('div');
    veil.className = 'tamsolo-modal';
    veil.style.cssText = 'position:fixed;left:0;top:0;right:0;bottom:0;z-index:10000;' +
      'background:rgba(0,0,0,0.2);display:flex;align-items:center;justify-content:center';
    var box = document.createElement('div');
    box.setAttribute('role', 'dialog');
    box.style.cssText = 'background:#D4D0C8;border:2px outset #FFFFFF;min-width:240px;' +
      'font:11px "Liberation Sans",sans-serif;color:#000000';
    var bar = document.createElement('div');
    bar.className = 'tamsolo-modal-title';
    bar.textContent = UTF8ToString(title);
    bar.style.cssText = 'background:#0A246A;color:#FFFFFF;font-weight:bold;padding:3px 5px';
    var body = document.createElement('div');
    body.style.cssText = 'padding:12px;display:flex;gap:10px;white-space:pre-wrap';
    var sign = TamsoloHost.icons[icon & 0xF0];
    if (sign) {
      var mark = document.createElement('span');
      mark.textContent = sign;
      mark.style.fontSize = '20px';
      body.appendChild(mark);
    }
    var message = document.createElement('span');
    message.className = 'tamsolo-modal-text';
    message.textContent = UTF8ToString(text);
    body.appendChild(message);
    var row = document.createElement('div');
    row.style.cssText = 'text-align:center;padding:0 12px 10px';
    (TamsoloHost.buttons[buttons & 0xF] || TamsoloHost.buttons[0]).forEach(function (b) {
      var button = document.createElement('button');
      button.textContent = b[0];
      button.style.cssText = 'min-width:70px;margin:0 4px';
      button.addEventListener('click', function () {
        veil.remove();
        _tamsolo_message_box_done(done, b[1]);
      });
      row.appendChild(button);
    });
    box.appendChild(bar);
    box.appendChild(body);
    box.appendChild(row);
    veil.appendChild(box);
    document.body.appendChild(veil);
    var first = row.querySelector('button');
    if (first) first.focus();
  },

  tamsolo_host_confirm: function (text) {
    return window.confirm(UTF8ToString(text)) ? 1 : 0;
  },

  tamsolo_host_beep: function () {
    try {
      var Ctx = window.AudioContext || window.webkitAudioContext;
      var audio = new Ctx();
      var tone = audio.createOscillator();
      tone.frequency.value = 750;
      tone.connect(audio.destination);
      tone.start();
      tone.stop(audio.currentTime + 0.1);
    } catch (e) {
      // No sound in this page: a beep is only a hint.
    }
  },

  tamsolo_host_set_cursor__deps: ['$TamsoloHost'],
  tamsolo_host_set_cursor: function (id, cursor) {
    var h = TamsoloHost.get(id);
    if (h) (h.canvas || h.element).style.cursor = UTF8ToString(cursor);
  },

  tamsolo_dom_create__deps: ['$TamsoloHost'],
  tamsolo_dom_create: function (tag) {
    var id = TamsoloHost.next++;
    TamsoloHost.elements[id] = document.createElement(UTF8ToString(tag));
    return id;
  },

  tamsolo_dom_set_attribute__deps: ['$TamsoloHost'],
  tamsolo_dom_set_attribute: function (id, name, value) {
    var e = TamsoloHost.elements[id];
    if (e) e.setAttribute(UTF8ToString(name), UTF8ToString(value));
  },

  tamsolo_dom_set_text__deps: ['$TamsoloHost'],
  tamsolo_dom_set_text: function (id, text) {
    var e = TamsoloHost.elements[id];
    if (e) e.textContent = UTF8ToString(text);
  },

  // A child element is moved under its parent; parent 0 is the page's body.
  tamsolo_dom_append__deps: ['$TamsoloHost'],
  tamsolo_dom_append: function (parent, child) {
    var p = TamsoloHost.elements[parent], c = TamsoloHost.elements[child];
    if (!c) return;
    if (p) p.appendChild(c);
    else document.body.appendChild(c);
  },

  tamsolo_dom_listen__deps: ['$TamsoloHost'],
  tamsolo_dom_listen: function (id, event, handler) {
    var e = TamsoloHost.elements[id];
    if (!e) return;
    e.addEventListener(UTF8ToString(event), function () {
      if (TamsoloHost.elements[id]) _tamsolo_dom_event(handler);
    });
  },

  tamsolo_dom_remove_attribute__deps: ['$TamsoloHost'],
  tamsolo_dom_remove_attribute: function (id, name) {
    var e = TamsoloHost.elements[id];
    if (e) e.removeAttribute(UTF8ToString(name));
  },

  // Inside the control's element, placed from its top-left corner.
  tamsolo_dom_append_to_host__deps: ['$TamsoloHost'],
  tamsolo_dom_append_to_host: function (host, child) {
    var h = TamsoloHost.get(host), c = TamsoloHost.elements[child];
    if (!h || !c) return;
    if (getComputedStyle(h.element).position === 'static') h.element.style.position = 'relative';
    h.element.appendChild(c);
  },

  // The element's value as UTF-8 into the buffer; its length in bytes.
  tamsolo_dom_value__deps: ['$TamsoloHost'],
  tamsolo_dom_value: function (id, buffer, size) {
    var e = TamsoloHost.elements[id];
    var v = e && e.value !== undefined ? String(e.value) : '';
    return stringToUTF8(v, buffer, size);
  },

  tamsolo_dom_focus__deps: ['$TamsoloHost'],
  tamsolo_dom_focus: function (id) {
    var e = TamsoloHost.elements[id];
    if (e && e.focus) e.focus();
  },

  tamsolo_dom_detach__deps: ['$TamsoloHost'],
  tamsolo_dom_detach: function (id) {
    var e = TamsoloHost.elements[id];
    if (e) e.remove();
  },

  tamsolo_dom_remove__deps: ['$TamsoloHost'],
  tamsolo_dom_remove: function (id) {
    var e = TamsoloHost.elements[id];
    if (e) e.remove();
    delete TamsoloHost.elements[id];
  },
});
