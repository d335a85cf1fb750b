// The canvas side of gdi::CanvasDc. Surface 0 is never used; a host's canvas and each off-screen
// surface get a number of their own.
mergeInto(LibraryManager.library, {
  $TamsoloGdi: {
    surfaces: {},
    next: 1,
    images: {},
    css: function (rgb) {
      return '#' + ('000000' + rgb.toString(16)).slice(-6);
    },
    cells: {},
    // Ascent plus descent of a face per pixel of em, measured once per face and style.
    cellPerEm: function (ctx, font) {
      if (!(font in TamsoloGdi.cells)) {
        ctx.save();
        ctx.font = font;
        var m = ctx.measureText('0');
        ctx.restore();
        var cell = m.fontBoundingBoxAscent + m.fontBoundingBoxDescent;
        TamsoloGdi.cells[font] = cell > 0 ? cell / 100 : 1;
      }
      return TamsoloGdi.cells[font];
    },
    add: function (canvas) {
      var id = TamsoloGdi.next++;
      var ctx = canvas.getContext('2d');
      TamsoloGdi.surfaces[id] = { canvas: canvas, ctx: ctx, font: '11px "Liberation Sans"', underline: 0 };
      return id;
    },
  },

  tamsolo_gdi_host_surface__deps: ['$TamsoloGdi'],
  tamsolo_gdi_host_surface: function (host) {
    var h = Module['tamsoloHosts'] && Module['tamsoloHosts'][host];
    if (!h || !h.canvas) return 0;
    if (!h.surface) h.surface = TamsoloGdi.add(h.canvas);
    return h.surface;
  },

  tamsolo_gdi_create_surface__deps: ['$TamsoloGdi'],
  tamsolo_gdi_create_surface: function (w, h) {
    var canvas = document.createElement('canvas');
    canvas.width = w;
    canvas.height = h;
    return TamsoloGdi.add(canvas);
  },

  tamsolo_gdi_free_surface__deps: ['$TamsoloGdi'],
  tamsolo_gdi_free_surface: function (id) {
    delete TamsoloGdi.surfaces[id];
  },

  tamsolo_gdi_fill_rect__deps: ['$TamsoloGdi'],
  tamsolo_gdi_fill_rect: function (id, l, t, r, b, rgb) {
    var s = TamsoloGdi.surfaces[id];
    if (!s || r <= l || b <= t) return;
    s.ctx.fillStyle = TamsoloGdi.css(rgb);
    s.ctx.fillRect(l, t, r - l, b - t);
  },

  // A cosmetic one-pixel line without its end point: straight runs as filled pixels, slanted
  // ones stroked through the pixel centres.
  tamsolo_gdi_line__deps: ['$TamsoloGdi'],
  tamsolo_gdi_line: function (id, x0, y0, x1, y1, rgb, dotted) {
    var s = TamsoloGdi.surfaces[id];
    if (!s || (x0 === x1 && y0 === y1)) return;
    var ctx = s.ctx;
    var colour = TamsoloGdi.css(rgb);
    if (x0 === x1 || y0 === y1) {
      // Pixel by pixel from the start point: every pixel solid, every other one dotted.
      var dx = Math.sign(x1 - x0), dy = Math.sign(y1 - y0), n = Math.abs(x1 - x0) + Math.abs(y1 - y0);
      ctx.fillStyle = colour;
      if (!dotted) {
        if (dy === 0) ctx.fillRect(Math.min(x0, x1 + 1), y0, n, 1);
        else ctx.fillRect(x0, Math.min(y0, y1 + 1), 1, n);
        return;
      }
      for (var i = 0; i < n; i += 2) ctx.fillRect(x0 + dx * i, y0 + dy * i, 1, 1);
      return;
    }
    var len = Math.max(Math.abs(x1 - x0), Math.abs(y1 - y0));
    var ex = x0 + (x1 - x0) * (len - 1) / len, ey = y0 + (y1 - y0) * (len - 1) / len;
    ctx.save();
    ctx.strokeStyle = colour;
    ctx.lineWidth = 1;
    ctx.lineCap = dotted ? 'butt' : 'square';
    ctx.setLineDash(dotted ? [1, 1] : []);
    ctx.beginPath();
    ctx.moveTo(x0 + 0.5, y0 + 0.5);
    ctx.lineTo(ex + 0.5, ey + 0.5);
    ctx.stroke();
    ctx.restore();
  },

  tamsolo_gdi_set_font__deps: ['$TamsoloGdi'],
  tamsolo_gdi_set_font: function (id, face, height, cell, bold, italic) {
    var s = TamsoloGdi.surfaces[id];
    if (!s) return;
    var family = '"' + UTF8ToString(face) + '"', style = (italic ? 'italic ' : '') + (bold ? 'bold ' : '');
    // A cell height is the face's ascent plus descent: the em is the largest whole size whose
    // cell is no taller.
    var em = cell ? Math.max(1, Math.floor(height / TamsoloGdi.cellPerEm(s.ctx, style + '100px ' + family))) : height;
    s.font = style + em + 'px ' + family;
  },

  tamsolo_gdi_text_width__deps: ['$TamsoloGdi'],
  tamsolo_gdi_text_width: function (id, text) {
    var s = TamsoloGdi.surfaces[id];
    if (!s) return 0;
    s.ctx.font = s.font;
    return Math.ceil(s.ctx.measureText(UTF8ToString(text)).width);
  },

  tamsolo_gdi_text__deps: ['$TamsoloGdi'],
  tamsolo_gdi_text: function (id, text, x, y, rgb, underline, clipped, cl, ct, cr, cb) {
    var s = TamsoloGdi.surfaces[id];
    if (!s) return;
    var ctx = s.ctx, str = UTF8ToString(text);
    ctx.save();
    if (clipped) {
      ctx.beginPath();
      ctx.rect(cl, ct, cr - cl, cb - ct);
      ctx.clip();
    }
    ctx.font = s.font;
    ctx.fillStyle = TamsoloGdi.css(rgb);
    ctx.textBaseline = 'top';
    ctx.fillText(str, x, y);
    if (underline) {
      var w = ctx.measureText(str).width;
      var size = parseInt(s.font.replace(/^\D*/, ''), 10) || 11;
      ctx.fillRect(x, y + size, Math.ceil(w), 1);
    }
    ctx.restore();
  },

  // Pixels come as 0xAARRGGBB words; the canvas wants RGBA bytes. Converted once per picture.
  tamsolo_gdi_image__deps: ['$TamsoloGdi'],
  tamsolo_gdi_image: function (id, imageId, pixels, w, h, x, y, cl, ct, cr, cb) {
    var s = TamsoloGdi.surfaces[id];
    if (!s) return;
    var data = TamsoloGdi.images[imageId];
    if (!data || data.width !== w || data.height !== h) {
      data = s.ctx.createImageData(w, h);
      var words = HEAPU32.subarray(pixels >> 2, (pixels >> 2) + w * h);
      for (var i = 0; i < w * h; i++) {
        var p = words[i];
        data.data[i * 4] = (p >>> 16) & 255;
        data.data[i * 4 + 1] = (p >>> 8) & 255;
        data.data[i * 4 + 2] = p & 255;
        data.data[i * 4 + 3] = (p >>> 24) & 255;
      }
      TamsoloGdi.images[imageId] = data;
    }
    s.ctx.putImageData(data, x, y, cl - x, ct - y, cr - cl, cb - ct);
  },

  tamsolo_gdi_blit__deps: ['$TamsoloGdi'],
  tamsolo_gdi_blit: function (target, source, x, y) {
    var t = TamsoloGdi.surfaces[target], s = TamsoloGdi.surfaces[source];
    if (t && s) t.ctx.drawImage(s.canvas, x, y);
  },
});
