// The page side of the query wizard's dialog: one absolutely positioned element per control of the
// dialog template inside the OBJECT, drawn from the state the C++ side sends as JSON
// ([id, kind, text, items, selected, pressed, enabled, visible, digitsOnly, left, top, width,
// height, face, fontHeight, bold] per control), and the user's actions sent back to
// tamsolo_wizard_event(view, id, kind, index, value).
mergeInto(LibraryManager.library, {
  $TamsoloWizard__deps: ['malloc', 'free'],
  $TamsoloWizard: {
    dialogs: {},
    next: 1,
    tags: { label: 'div', list: 'select', dropdown: 'select', edit: 'input', date: 'input',
            datetime: 'input', button: 'button', radio: 'button', toggle: 'button' },
    // "M/d/yyyy" and "M/d/yyyy HH:mm" to the pickers' values and back.
    toInput: function (text, withTime) {
      var m = /^(\d+)\/(\d+)\/(\d{4})(?: (\d\d):(\d\d))?$/.exec(text || '');
      if (!m) return '';
      var pad = function (s) { return ('0' + s).slice(-2); };
      var date = m[3] + '-' + pad(m[1]) + '-' + pad(m[2]);
      return withTime ? date + 'T' + (m[4] || '00') + ':' + (m[5] || '00') : date;
    },
    fromInput: function (value) {
      var m = /^(\d{4})-(\d\d)-(\d\d)(?:T(\d\d):(\d\d))?/.exec(value || '');
      if (!m) return '';
      var date = Number(m[2]) + '/' + Number(m[3]) + '/' + m[1];
      return m[4] ? date + ' ' + m[4] + ':' + m[5] : date;
    },
    send: function (d, id, kind, index, value) {
      var text = String(value || '');
      var size = lengthBytesUTF8(text) + 1;
      var p = _malloc(size);
      stringToUTF8(text, p, size);
      try {
        _tamsolo_wizard_event(d.view, id, kind, index, p);
      } finally {
        _free(p);
      }
    },
    make: function (d, id, kind) {
      var e = document.createElement(TamsoloWizard.tags[kind] || 'div');
      e.setAttribute('data-qw', String(id));
      e.style.position = 'absolute';
      e.style.boxSizing = 'border-box';
      e.style.margin = '0';
      if (kind === 'list') e.size = 2;
      if (kind === 'edit') e.type = 'text';
      if (kind === 'date') e.type = 'date';
      if (kind === 'datetime') e.type = 'datetime-local';
      if (e.tagName === 'BUTTON') e.type = 'button';
      if (kind === 'label') {
        e.style.color = 'rgb(0, 51, 153)';
        e.style.background = '#FFFFFF';
        e.style.whiteSpace = 'nowrap';
        e.style.overflow = 'hidden';
      }
      var send = TamsoloWizard.send;
      if (e.tagName === 'BUTTON') e.addEventListener('click', function () { send(d, id, 0, -1, ''); });
      if (e.tagName === 'SELECT') e.addEventListener('change', function () { send(d, id, 1, e.selectedIndex, ''); });
      if (kind === 'list') e.addEventListener('dblclick', function () { send(d, id, 2, e.selectedIndex, ''); });
      if (kind === 'edit') e.addEventListener('input', function () { send(d, id, 3, -1, e.value); });
      if (kind === 'date' || kind === 'datetime')
        e.addEventListener('change', function () { send(d, id, 4, -1, TamsoloWizard.fromInput(e.value)); });
      d.root.appendChild(e);
      d.els[id] = e;
      return e;
    },
    options: function (e, items, selected) {
      var same = e.options.length === items.length;
      for (var i = 0; same && i < items.length; i++) same = e.options[i].text === items[i];
      if (!same) {
        while (e.options.length) e.remove(0);
        items.forEach(function (text) { e.add(new Option(text, text)); });
      }
      e.selectedIndex = selected;
    },
    draw: function (d, w) {
      var id = w[0], kind = w[1], e = d.els[id] || TamsoloWizard.make(d, id, kind);
      e.style.left = w[9] + 'px';
      e.style.top = w[10] + 'px';
      e.style.width = w[11] + 'px';
      e.style.height = w[12] + 'px';
      e.style.font = (w[15] ? 'bold ' : '') + w[14] + 'px "' + w[13] + '", sans-serif';
      e.style.display = w[7] ? '' : 'none';
      if (kind !== 'label') e.disabled = !w[6];
      if (kind === 'label' || e.tagName === 'BUTTON') e.textContent = w[2];
      if (kind === 'radio' || kind === 'toggle') {
        e.setAttribute('aria-pressed', w[5] ? 'true' : 'false');
        e.style.borderStyle = w[5] ? 'inset' : 'outset';
        e.style.background = w[5] ? '#C0C0C0' : '';
      }
      if (e.tagName === 'SELECT') TamsoloWizard.options(e, w[3], w[4]);
      if (kind === 'edit') {
        if (e.value !== w[2]) e.value = w[2];
        e.inputMode = w[8] ? 'numeric' : 'text';
      }
      if (kind === 'date' || kind === 'datetime') {
        var v = TamsoloWizard.toInput(w[2], kind === 'datetime');
        if (e.value !== v) e.value = v;
      }
    },
  },

  // The dialog's root over the control's canvas, with the rule after "Define more criteria".
  tamsolo_wizard_open__deps: ['$TamsoloWizard'],
  tamsolo_wizard_open: function (hostId, view) {
    var h = (Module['tamsoloHosts'] || {})[hostId];
    var id = TamsoloWizard.next++;
    var root = document.createElement('div');
    root.className = 'tamsolo-query-wizard';
    root.style.cssText = 'position:absolute;left:0;top:0;background:#FFFFFF;overflow:hidden';
    if (h) {
      root.style.width = h.width + 'px';
      root.style.height = h.height + 'px';
      if (getComputedStyle(h.element).position === 'static') h.element.style.position = 'relative';
      h.element.style.display = 'inline-block';
      h.element.appendChild(root);
    }
    var rule = document.createElement('div');
    rule.style.cssText = 'position:absolute;left:113px;top:158px;width:504px;border-top:1px solid #808080';
    root.appendChild(rule);
    TamsoloWizard.dialogs[id] = { root: root, els: {}, view: view };
    return id;
  },

  tamsolo_wizard_render__deps: ['$TamsoloWizard'],
  tamsolo_wizard_render: function (id, json) {
    var d = TamsoloWizard.dialogs[id];
    if (!d) return;
    JSON.parse(UTF8ToString(json)).forEach(function (w) { TamsoloWizard.draw(d, w); });
  },

  tamsolo_wizard_focus__deps: ['$TamsoloWizard'],
  tamsolo_wizard_focus: function (id, widget) {
    var d = TamsoloWizard.dialogs[id];
    if (d && d.els[widget]) d.els[widget].focus();
  },

  tamsolo_wizard_close__deps: ['$TamsoloWizard'],
  tamsolo_wizard_close: function (id) {
    var d = TamsoloWizard.dialogs[id];
    if (d) d.root.remove();
    delete TamsoloWizard.dialogs[id];
  },
});
