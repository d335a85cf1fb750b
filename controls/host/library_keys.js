// The keystroke player: a page reaches only itself, so keys go to its focused element as keydown
// and keyup KeyboardEvents, and a key-down nobody cancelled does what typing it would: a
// character goes in at the caret of an input, textarea or contenteditable (with an input event);
// Backspace, Delete, Enter (a newline in a textarea, a submit in an input), Tab and Shift+Tab
// (focus moves), the arrows left and right, Home and End. With Ctrl or Alt held only the events
// go. A wait holds the later keys without blocking the page; later calls play after earlier ones.
mergeInto(LibraryManager.library, {
  $TamsoloKeys: {
    queue: [],
    waiting: false,

    pump: function () {
      while (TamsoloKeys.queue.length && !TamsoloKeys.waiting) {
        var s = TamsoloKeys.queue.shift();
        if (s.action === 2) {
          TamsoloKeys.waiting = true;
          setTimeout(function () {
            TamsoloKeys.waiting = false;
            TamsoloKeys.pump();
          }, s.ms);
          return;
        }
        try {
          TamsoloKeys.stroke(s);
        } catch (e) {
          setTimeout(function () { throw e; });
        }
      }
    },

    stroke: function (s) {
      var target = document.activeElement || document.body;
      var type = s.action === 0 ? 'keydown' : 'keyup';
      var event = new KeyboardEvent(type, {
        key: s.key, code: s.code, keyCode: s.keyCode, which: s.keyCode, shiftKey: s.shift,
        ctrlKey: s.ctrl, altKey: s.alt, bubbles: true, cancelable: true, composed: true });
      if (event.keyCode !== s.keyCode) {
        Object.defineProperty(event, 'keyCode', { get: function () { return s.keyCode; } });
        Object.defineProperty(event, 'which', { get: function () { return s.keyCode; } });
      }
      var go = target.dispatchEvent(event);
      if (type === 'keydown' && go && !s.ctrl && !s.alt) TamsoloKeys.act(target, s);
    },

    isField: function (e) {
      return e && (e.tagName === 'TEXTAREA' ||
                   (e.tagName === 'INPUT' && !/^(button|submit|reset|checkbox|radio|file|image|hidden)$/i.test(e.type)));
    },

    // Replaces from..to of a field by the text, caret after it, with the input event.
    edit: function (e, text, from, to, inputType) {
      try {
        e.setRangeText(text, from, to, 'end');
      } catch (x) {
        // Fields without a selection (number, email): at the end.
        e.value = inputType === 'insertText' || inputType === 'insertLineBreak' ? e.value + text : e.value.slice(0, -1);
      }
      e.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: inputType, data: text || null }));
    },

    caret: function (e) {
      var from = e.selectionStart, to = e.selectionEnd;
      if (from === null || from === undefined) from = to = e.value.length;
      return [from, to];
    },

    act: function (target, s) {
      if (s.keyCode === 9) return TamsoloKeys.tab(target, s.shift);
      if (TamsoloKeys.isField(target)) return TamsoloKeys.actOnField(target, s);
      if (target.isContentEditable) return TamsoloKeys.actOnEditable(s);
    },

    actOnField: function (e, s) {
      var c = TamsoloKeys.caret(e), from = c[0], to = c[1], n = e.value.length;
      if (e.readOnly || e.disabled) return;
      switch (s.keyCode) {
        case 8:
          if (from === to && from > 0) from--;
          if (from !== to) TamsoloKeys.edit(e, '', from, to, 'deleteContentBackward');
          return;
        case 46:
          if (from === to && to < n) to++;
          if (from !== to) TamsoloKeys.edit(e, '', from, to, 'deleteContentForward');
          return;
        case 13:
          if (e.tagName === 'TEXTAREA') TamsoloKeys.edit(e, '\n', from, to, 'insertLineBreak');
          else if (e.form) e.form.requestSubmit();
          return;
        case 37: return TamsoloKeys.move(e, from === to ? Math.max(0, from - 1) : from);
        case 39: return TamsoloKeys.move(e, from === to ? Math.min(n, to + 1) : to);
        case 36: return TamsoloKeys.move(e, 0);
        case 35: return TamsoloKeys.move(e, n);
      }
      if (s.text) TamsoloKeys.edit(e, s.text, from, to, 'insertText');
    },

    move: function (e, at) {
      try {
        e.setSelectionRange(at, at);
      } catch (x) {
        // A field without a caret.
      }
    },

    actOnEditable: function (s) {
      var commands = { 8: ['delete'], 46: ['forwardDelete'], 13: ['insertLineBreak'] };
      var moves = { 37: ['move', 'backward', 'character'], 39: ['move', 'forward', 'character'],
                    36: ['move', 'backward', 'lineboundary'], 35: ['move', 'forward', 'lineboundary'] };
      if (commands[s.keyCode]) return document.execCommand(commands[s.keyCode][0], false);
      if (moves[s.keyCode]) {
        var m = moves[s.keyCode];
        return window.getSelection().modify(m[0], m[1], m[2]);
      }
      if (s.text) document.execCommand('insertText', false, s.text);
    },

    // Focus to the next (or, with SHIFT, the previous) element that takes it, in page order.
    tab: function (from, back) {
      var all = Array.prototype.filter.call(
        document.querySelectorAll('a[href], button, input, select, textarea, [tabindex], [contenteditable]'),
        function (e) {
          return e.tabIndex >= 0 && !e.disabled && e.type !== 'hidden' && e.getClientRects().length > 0;
        });
      if (!all.length) return;
      var i = all.indexOf(from);
      var next = back ? (i <= 0 ? all.length - 1 : i - 1) : (i < 0 || i === all.length - 1 ? 0 : i + 1);
      all[next].focus();
    },
  },

  tamsolo_host_play_keys__deps: ['$TamsoloKeys'],
  tamsolo_host_play_keys: function (id, json) {
    Array.prototype.push.apply(TamsoloKeys.queue, JSON.parse(UTF8ToString(json)));
    TamsoloKeys.pump();
  },
});
