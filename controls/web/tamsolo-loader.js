// Turns the page's OBJECT tags for our controls into live controls once the module has loaded.
// Goes after tamsolo.js on any page; finds the module's files beside itself. An OBJECT becomes a
// control when its classid ("clsid:{...}", any case) or data-progid names a class of the module:
// a canvas inside the element (which keeps its id) draws it, its PARAMs reach the properties in
// the control's order, and page script uses properties, methods, readyState and events on the
// element as it did with the plug-in.
(function () {
  'use strict';

  var READY_STATE = -525;
  var base = (function () {
    var script = document.currentScript;
    var src = script && script.src ? script.src : '';
    return src ? src.slice(0, src.lastIndexOf('/') + 1) : '';
  })();
  var started = performance.now();
  var contentLoaded = null;
  var hosts = {};
  var nextHost = 1;
  var module = null;
  var classes = [];

  function report(error) {
    if (typeof window.reportError === 'function') window.reportError(error);
    else setTimeout(function () { throw error; });
  }

  function bare(clsid) {
    return String(clsid).trim().replace(/^clsid:/i, '').replace(/^\{|\}$/g, '').toUpperCase();
  }

  function classOf(obj) {
    var classid = obj.getAttribute('classid');
    var progid = obj.getAttribute('data-progid');
    for (var i = 0; i < classes.length; i++) {
      var c = classes[i];
      if (classid && /^\s*clsid:/i.test(classid) && bare(classid) === bare(c.clsid)) return c;
      if (progid) {
        var p = progid.trim().toLowerCase();
        if (p === c.progId.toLowerCase() || p === c.independentProgId.toLowerCase()) return c;
      }
    }
    return null;
  }

  // PARAM children by lower-case name (the control matches names without regard to case).
  function paramsOf(obj) {
    var params = {};
    Array.prototype.forEach.call(obj.children, function (child) {
      if (child.tagName === 'PARAM' && child.hasAttribute('name'))
        params[child.getAttribute('name').toLowerCase()] = child.getAttribute('value') || '';
    });
    return params;
  }

  // <script for=ID event="Name(a, b)">: Chromium does not run them, so their text becomes a
  // handler of that event.
  function scriptHandlers(obj) {
    var handlers = {};
    if (!obj.id) return handlers;
    var wanted = obj.id.toLowerCase();
    document.querySelectorAll('script[for][event]').forEach(function (script) {
      if (script.getAttribute('for').trim().toLowerCase() !== wanted) return;
      var language = (script.getAttribute('language') || script.getAttribute('type') || 'javascript');
      if (!/javascript|jscript|ecmascript/i.test(language)) return;
      var m = /^\s*([A-Za-z_$][\w$]*)\s*(?:\(([^)]*)\))?\s*$/.exec(script.getAttribute('event'));
      if (!m) return;
      var names = m[2] ? m[2].split(',').map(function (s) { return s.trim(); }).filter(Boolean) : [];
      if (!names.every(function (n) { return /^[A-Za-z_$][\w$]*$/.test(n); })) return;
      var fn = compile(names, script.text);
      var key = m[1].toLowerCase();
      if (fn) (handlers[key] = handlers[key] || []).push(fn);
    });
    return handlers;
  }

  function size(obj, attribute, fallback) {
    var n = parseInt(obj.getAttribute(attribute), 10);
    return isNaN(n) ? fallback : n;
  }

  function runHandler(obj, handler, args) {
    try {
      handler.apply(obj, args);
    } catch (e) {
      report(e);
    }
  }

  // A handler's script text made a function, as the page's own inline script: the site's
  // content security policy lets inline scripts run but not eval or the Function constructor.
  var compiled = 0;
  function compile(names, text) {
    var key = '__tamsoloHandler' + (compiled++);
    var script = document.createElement('script');
    script.text = 'window.' + key + ' = function (' + names.join(', ') + ') {\n' + text + '\n};';
    document.head.appendChild(script);
    script.remove();
    var fn = window[key];
    delete window[key];
    return typeof fn === 'function' ? fn : null;
  }

  // on<Event> as a property (a function) or as an attribute (script text).
  function onHandler(obj, name) {
    var prop = obj['on' + name];
    if (typeof prop === 'function') return prop;
    var text = obj.getAttribute('on' + name);
    return text ? compile([], text) : null;
  }

  function fire(obj, scripts, name, args) {
    (scripts[name.toLowerCase()] || []).forEach(function (fn) { runHandler(obj, fn, args); });
    var handler = onHandler(obj, name);
    if (handler) runHandler(obj, handler, args);
    obj.dispatchEvent(new CustomEvent(name, { detail: args }));
  }

  function makeHost(obj, cls, canvas, scripts, width, height) {
    var host = {
      element: obj,
      canvas: canvas,
      width: width,
      height: height,
      userMode: obj.getAttribute('data-user-mode') !== 'false',
      // Read at each paint, so a test may switch recording on once the control is live.
      get recording() { return obj.hasAttribute('data-tamsolo-record'); },
      control: null,
      names: {},
      queued: false,
      requestEdit: function (dispid) {
        return obj.dispatchEvent(new CustomEvent('requestedit', {
          cancelable: true, detail: { dispid: dispid, name: host.names[dispid] || '' } }));
      },
      changed: function (dispid) {
        obj.dispatchEvent(new CustomEvent('propertychange', {
          detail: { dispid: dispid, name: host.names[dispid] || '' } }));
        if (dispid !== READY_STATE) return;
        var handler = onHandler(obj, 'readystatechange');
        if (handler) runHandler(obj, handler, []);
        obj.dispatchEvent(new Event('readystatechange'));
      },
      fire: function (name, args) { fire(obj, scripts, name, args); },
      invalidate: function () {
        if (host.queued || !host.canvas) return;
        host.queued = true;
        setTimeout(function () {
          host.queued = false;
          if (host.control) host.control.paint();
        }, 0);
      },
      // The attribute is written once the paint that records has ended (a canvas with its
      // grid records thousands of calls).
      record: function (line) {
        obj.tamsoloCalls.push(line);
        if (host.recordQueued) return;
        host.recordQueued = true;
        queueMicrotask(function () {
          host.recordQueued = false;
          obj.setAttribute('data-tamsolo-calls', obj.tamsoloCalls.join('\n'));
        });
      },
    };
    return host;
  }

  // Properties and methods of the control on the element, as page script names them.
  function expose(obj, control, host) {
    control.properties().forEach(function (p) {
      host.names[p.dispid] = p.name;
      Object.defineProperty(obj, p.name, {
        configurable: true,
        get: function () { return control.get(p.name); },
        set: function (value) { control.put(p.name, value); },
      });
    });
    control.methods().forEach(function (name) {
      obj[name] = function () { return control.call(name, Array.prototype.slice.call(arguments)); };
    });
    Object.defineProperty(obj, 'readyState', {
      configurable: true,
      get: function () { return control.readyState(); },
    });
  }

  // The mouse over a control's canvas and the keys released in its element, for the controls
  // that take them: buttons 1 left, 2 right, 4 middle; shift 1, control 2, alt 4.
  function forwardInput(obj, canvas, control) {
    var buttons = { 0: 1, 1: 4, 2: 2 };
    function shift(e) { return (e.shiftKey ? 1 : 0) | (e.ctrlKey ? 2 : 0) | (e.altKey ? 4 : 0); }
    function held(e) { return (e.buttons & 1 ? 1 : 0) | (e.buttons & 2 ? 2 : 0) | (e.buttons & 4 ? 4 : 0); }
    // kind: 0 down, 1 move, 2 up, 3 double click, 4 leave; the canvas's corner goes with it.
    function send(kind, button, e) {
      var r = canvas.getBoundingClientRect();
      try {
        control.mouse(kind, Math.floor(e.clientX - r.left), Math.floor(e.clientY - r.top), button, shift(e),
                      Math.round(r.left), Math.round(r.top));
      } catch (x) {
        report(x);
      }
    }
    canvas.addEventListener('pointerdown', function (e) {
      try { canvas.setPointerCapture(e.pointerId); } catch (x) { /* a pointer already gone */ }
      // Focused by the pointer (kept out of the tab order), so its key releases reach the control.
      if (!obj.hasAttribute('tabindex')) obj.tabIndex = -1;
      if (document.activeElement !== obj) obj.focus({ preventScroll: true });
      send(0, buttons[e.button] || 1, e);
    });
    canvas.addEventListener('pointermove', function (e) { send(1, held(e), e); });
    canvas.addEventListener('pointerup', function (e) {
      if (canvas.hasPointerCapture(e.pointerId)) canvas.releasePointerCapture(e.pointerId);
      send(2, buttons[e.button] || 1, e);
    });
    // A press that opens a window of the browser (the screen picker) may never see its release:
    // the capture goes when the page loses the focus, else it would take the next press anywhere.
    window.addEventListener('blur', function () {
      for (var id = 0; id < 8; id++) if (canvas.hasPointerCapture(id)) canvas.releasePointerCapture(id);
    });
    canvas.addEventListener('dblclick', function (e) { send(3, 1, e); });
    canvas.addEventListener('pointerleave', function (e) { send(4, 0, e); });
    canvas.addEventListener('contextmenu', function (e) { e.preventDefault(); });
    obj.addEventListener('keyup', function (e) {
      try {
        control.keyUp(e.keyCode, shift(e));
      } catch (x) {
        report(x);
      }
    });
  }

  // The control's area follows the OBJECT's size as page script sets it (the width and height
  // attributes, or pixels in its style), and the control may ask for a size (host.resize).
  function followSize(obj, canvas, host) {
    function fit(width, height) {
      width = Math.max(0, Math.round(width));
      height = Math.max(0, Math.round(height));
      if (width === host.width && height === host.height) return;
      host.width = canvas.width = width;
      host.height = canvas.height = height;
      host.control.resized(width, height);
      host.invalidate();
    }
    function given(name, current) {
      var styled = obj.style[name];
      if (/^\s*[\d.]+px\s*$/.test(styled)) return parseFloat(styled);
      return size(obj, name, current);
    }
    host.resize = function (width, height) {
      obj.setAttribute('width', String(width));
      obj.setAttribute('height', String(height));
      if (obj.style.width) obj.style.width = width + 'px';
      if (obj.style.height) obj.style.height = height + 'px';
      fit(width, height);
    };
    new MutationObserver(function () {
      try {
        fit(given('width', host.width), given('height', host.height));
      } catch (e) {
        report(e);
      }
    }).observe(obj, { attributes: true, attributeFilter: ['width', 'height', 'style'] });
  }

  function attach(obj) {
    if (!module || obj.tamsoloControl) return obj.tamsoloControl || null;
    var cls = classOf(obj);
    if (!cls) return null;
    var hidden = cls.invisibleAtRuntime && obj.getAttribute('data-user-mode') !== 'false';
    var width = hidden ? 0 : size(obj, 'width', 100), height = hidden ? 0 : size(obj, 'height', 50);
    var canvas = null;
    if (hidden) {
      obj.style.width = '0px';
      obj.style.height = '0px';
      obj.style.overflow = 'hidden';
    } else {
      canvas = document.createElement('canvas');
      canvas.width = width;
      canvas.height = height;
      canvas.style.display = 'block';
      obj.appendChild(canvas);
    }
    obj.tamsoloCalls = [];
    var id = nextHost++;
    var host = makeHost(obj, cls, canvas, scriptHandlers(obj), width, height);
    hosts[id] = host;
    var control = new module.WebControl(cls.clsid, id);
    if (!control.ok()) {
      control.delete();
      delete hosts[id];
      if (canvas) canvas.remove();
      return null;
    }
    host.control = control;
    obj.tamsoloControl = control;
    expose(obj, control, host);
    if (canvas) forwardInput(obj, canvas, control);
    if (canvas) followSize(obj, canvas, host);
    control.load(paramsOf(obj));
    if (canvas) control.paint();
    return control;
  }

  function attachAll() {
    document.querySelectorAll('object').forEach(function (obj) {
      try {
        attach(obj);
      } catch (e) {
        report(e);
      }
    });
    var loaded = contentLoaded === null ? started : contentLoaded;
    document.documentElement.setAttribute('data-tamsolo-ready-ms',
                                          String(Math.round(performance.now() - loaded)));
    document.dispatchEvent(new Event('tamsoloready'));
  }

  function domReady() {
    return new Promise(function (resolve) {
      if (document.readyState !== 'loading') resolve();
      else document.addEventListener('DOMContentLoaded', function () { resolve(); });
    });
  }
  document.addEventListener('DOMContentLoaded', function () { contentLoaded = performance.now(); });

  var ready = (typeof TamsoloModule === 'function'
    ? TamsoloModule({ locateFile: function (path) { return base + path; } })
    : Promise.reject(new Error('tamsolo.js is not loaded'))
  ).then(function (instance) {
    module = instance;
    module.tamsoloHosts = hosts;
    classes = module.classTable();
    return domReady();
  }).then(attachAll);
  ready.catch(report);

  window.Tamsolo = {
    ready: ready,
    // What a screen capture asks the browser's picker for.
    displayMediaOptions: { video: true },
    // For OBJECTs added to the page later; answers the control, or null.
    attach: function (obj) { return attach(obj); },
  };
})();
