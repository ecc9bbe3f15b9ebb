// The report page's script. It shows one frame at a time: its picture (with
// the pixels changed since the frame before), the commands that made it,
// each with the replies it produced and the lines it logged. A frame's
// commands and pixels come from data/frame_NNNN.js, loaded when the frame is
// shown: script files, because a page opened from disk may not read other
// files, and the picture as a PNG in the data, because a picture's own file
// would not let the page read its pixels.
(function () {
  'use strict';

  const WIDTH = 640, HEIGHT = 400;
  const summary = window.nimbraSummary;
  const frames = summary.frames;   // [bytes read, grey, changed, x0, y0, x1, y1, commands]
  const frameCount = frames.length;
  const LEVEL3 = [0x00, 0x25, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF];
  const LEVEL2 = [0x00, 0x55, 0xAA, 0xFF];
  const KEPT = 24;   // frames' data held at once
  const DECODED = 4;  // frames' pixels held at once

  const $ = (id) => document.getElementById(id);
  const strip = $('strip'), picture = $('picture'), overlay = $('overlay'), box = $('box'), stage = $('stage');
  const overlayContext = overlay.getContext('2d');
  const info = $('info'), commandList = $('commands'), readout = $('readout'), changesBox = $('changes');
  const thumbs = strip.querySelectorAll('.thumb');

  const loaded = new Map();    // frame number -> its data
  const waiting = new Map();   // frame number -> functions waiting for it
  let afterData = null;
  let current = -1;
  let zoom = 2;
  const decodedPixels = new Map();   // frame number -> its indices
  const decoding = new Map();        // frame number -> functions waiting for them
  let pointer = null;          // the last pointer position over the picture

  const name = (n) => 'frame_' + String(n).padStart(4, '0');
  const hex2 = (v) => v.toString(16).toUpperCase().padStart(2, '0');

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // ------------------------------------------------------------ data files

  window.nimbraReport = {
    frameData(n, data) {
      loaded.set(n, data);
      if (loaded.size > KEPT) loaded.delete(loaded.keys().next().value);
      const callbacks = waiting.get(n) || [];
      waiting.delete(n);
      callbacks.forEach((callback) => callback(data));
    },
    afterData(data) {
      afterData = data;
      if (current === frameCount - 1) renderAfter();
    },
  };

  function loadScript(src, failed) {
    const s = document.createElement('script');
    s.src = src;
    s.charset = 'utf-8';
    s.onload = () => s.remove();
    s.onerror = () => { s.remove(); failed(); };
    document.head.appendChild(s);
  }

  function load(n, callback) {
    if (loaded.has(n)) { callback(loaded.get(n)); return; }
    if (!waiting.has(n)) {
      waiting.set(n, []);
      loadScript('data/' + name(n) + '.js', () => {
        waiting.delete(n);
        if (current === n) commandList.replaceChildren(element('p', 'problem', 'data/' + name(n) + '.js cannot be loaded'));
      });
    }
    waiting.get(n).push(callback);
  }

  // ------------------------------------------------------------- the frame

  function select(n) {
    n = Math.max(0, Math.min(frameCount - 1, n));
    if (n === current || Number.isNaN(n)) return;
    if (current >= 0) thumbs[current].classList.remove('selected');
    current = n;
    thumbs[n].classList.add('selected');
    thumbs[n].scrollIntoView({ block: 'nearest', inline: 'center' });
    // The thumbnail stands in until the frame's data (with its picture)
    // has come.
    picture.src = 'thumbs/' + name(n) + '.png';
    overlayReady = false;
    showChanges();
    renderInfo(n);
    commandList.replaceChildren(element('p', 'leftout', 'loading the commands...'));
    load(n, (data) => {
      if (current !== n) return;
      picture.src = 'data:image/png;base64,' + data.png;
      renderCommands(data);
      withPixels(n, showReadout);
      markChanges(n);
    });
    try {
      history.replaceState(null, '', '#' + n);
    } catch (e) {
      // Some browsers keep a page opened from disk from changing its address.
    }
  }

  // The pixels that stayed are darkened and the changed ones tinted, lightly
  // enough to keep their colours (so that a change to black shows too); the
  // box of the changed ones is outlined in pixels of the page, so that it
  // follows the zoom.
  let overlayReady = false;
  function showChanges() {
    const f = frames[current];
    const on = changesBox.checked && current > 0 && f[2] > 0;
    overlay.hidden = !(on && overlayReady);
    box.hidden = !on;
    if (!on) return;
    box.style.left = f[3] * zoom + 'px';
    box.style.top = f[4] * zoom + 'px';
    box.style.width = (f[5] - f[3] + 1) * zoom + 'px';
    box.style.height = (f[6] - f[4] + 1) * zoom + 'px';
  }

  function renderInfo(n) {
    const f = frames[n];
    const parts = [
      ['frame', n + ' of ' + frameCount + (n === 0 ? ' (boot screen)' : '')],
      ['stream bytes read', String(f[0])],
      ['mode', f[1] ? 'grey' : 'colour'],
    ];
    if (n > 0) {
      parts.push(['changed', f[2] === 0 ? 'nothing'
        : f[2] + ' pixel' + (f[2] === 1 ? '' : 's') + ' in (' + f[3] + ', ' + f[4] + ') to (' + f[5] + ', ' + f[6] + ')']);
    }
    info.replaceChildren();
    parts.forEach(([label, value], i) => {
      if (i) info.append(' \u00b7 ');
      info.append(element('span', 'label', label + ' '), value);
    });
  }

  function commandElement(c) {
    const e = element('div', 'cmd ' + c.state);
    if (c.offset !== undefined) e.dataset.offset = c.offset;
    const line = e.appendChild(element('div', 'line'));
    if (c.offset !== undefined) line.append(element('span', 'off', '@' + c.offset));
    line.append(element('code', '', c.text));
    if (c.state === 'not-run') line.append(element('span', 'state', 'not run'));
    if (c.state === 'stopped') line.append(element('span', 'state', 'stopped its record'));
    if (c.frames.length) {
      const shows = line.appendChild(element('span', 'shows', 'shows'));
      c.frames.forEach((f) => {
        const a = element('a', '', 'frame ' + f);
        a.href = '#' + f;
        a.dataset.goto = f;
        shows.append(a);
      });
    }
    line.addEventListener('click', (event) => {
      if (event.target.tagName !== 'A') e.classList.toggle('expanded');
    });
    if (c.note) e.append(element('div', 'note', c.note));
    c.replies.forEach(([text, hex]) => {
      const r = e.appendChild(element('div', 'reply', '\u2190 ' + text));
      r.append(element('span', 'hex', hex));
    });
    if (c.repliesLeftOut) e.append(element('div', 'reply', '\u2190 ... ' + c.repliesLeftOut + ' more replies'));
    if (c.log || c.logLeftOut) {
      e.append(element('pre', 'log', c.log + (c.logLeftOut ? '... ' + c.logLeftOut + ' more bytes of log\n' : '')));
    }
    return e;
  }

  function appendCommands(parent, data) {
    data.commands.forEach((c, i) => {
      if (data.leftOut && i === data.leftOutAt) {
        parent.append(element('p', 'leftout', '... ' + data.leftOut +
          ' more commands, not listed here (nimbra-disasm lists them all) ...'));
      }
      parent.append(commandElement(c));
    });
  }

  function renderCommands(data) {
    const list = document.createDocumentFragment();
    appendCommands(list, data);
    commandList.replaceChildren(list);
    if (current === frameCount - 1 && summary.after > 0) {
      if (afterData) renderAfter();
      else loadScript('data/after.js', () => {});
    }
  }

  function renderAfter() {
    if (!afterData || commandList.querySelector('.after-heading')) return;
    commandList.append(element('p', 'after-heading', 'After the last frame' +
      (summary.stoppedReading ? ' (the device stopped reading)' : '')));
    appendCommands(commandList, afterData);
  }

  // ------------------------------------------------- pixels under the pointer

  // A frame's indices, from the PNG in its data decoded on a canvas (a data
  // address leaves the canvas readable, the picture's own file would not).
  function withPixels(n, callback) {
    if (decodedPixels.has(n)) { callback(decodedPixels.get(n)); return; }
    if (decoding.has(n)) { decoding.get(n).push(callback); return; }
    decoding.set(n, [callback]);
    load(n, (data) => {
      const image = new Image();
      image.onload = () => {
        const canvas = document.createElement('canvas');
        canvas.width = WIDTH;
        canvas.height = HEIGHT;
        const context = canvas.getContext('2d', { willReadFrequently: true });
        context.drawImage(image, 0, 0);
        let rgba = null;
        try {
          rgba = context.getImageData(0, 0, WIDTH, HEIGHT).data;
        } catch (e) {
          // No pixels to read: the readout shows none.
        }
        const callbacks = decoding.get(n) || [];
        decoding.delete(n);
        if (!rgba) return;
        const grey = frames[n][1] === 1;
        const indices = new Uint8Array(WIDTH * HEIGHT);
        for (let i = 0; i < indices.length; i++) {
          const r = rgba[4 * i], g = rgba[4 * i + 1], b = rgba[4 * i + 2];
          // The nearest level of each channel: exact for the device's colours.
          indices[i] = grey ? r : (Math.round(r * 7 / 255) << 5) | (Math.round(g * 7 / 255) << 2) | Math.round(b * 3 / 255);
        }
        decodedPixels.set(n, indices);
        if (decodedPixels.size > DECODED) decodedPixels.delete(decodedPixels.keys().next().value);
        callbacks.forEach((c) => c(indices));
      };
      image.src = 'data:image/png;base64,' + data.png;
    });
  }

  // The overlay of changed pixels: this frame's pixels against the previous
  // frame's, by colour (a frame may be grey and the one before not).
  function markChanges(n) {
    if (!(n > 0 && frames[n][2] > 0)) return;
    withPixels(n, (after) => withPixels(n - 1, (before) => {
      if (current !== n) return;
      const greyAfter = frames[n][1] === 1, greyBefore = frames[n - 1][1] === 1;
      const image = overlayContext.createImageData(WIDTH, HEIGHT);
      const d = image.data;
      for (let i = 0; i < WIDTH * HEIGHT; i++) {
        const same = greyAfter === greyBefore ? after[i] === before[i]
          : rgbKey(after[i], greyAfter) === rgbKey(before[i], greyBefore);
        if (same) {
          d[4 * i + 3] = 0xA0;
        } else {
          d[4 * i] = 0xFF;
          d[4 * i + 2] = 0xFF;
          d[4 * i + 3] = 0x60;
        }
      }
      overlayContext.putImageData(image, 0, 0);
      overlayReady = true;
      showChanges();
    }));
  }

  function rgbKey(index, grey) {
    const [r, g, b] = grey ? [index, index, index] : [LEVEL3[index >> 5], LEVEL3[(index >> 2) & 7], LEVEL2[index & 3]];
    return (r << 16) | (g << 8) | b;
  }

  function colourOf(index) {
    if (frames[current][1]) return [index, index, index];
    return [LEVEL3[index >> 5], LEVEL3[(index >> 2) & 7], LEVEL2[index & 3]];
  }

  function showReadout() {
    if (!pointer) { readout.textContent = ''; return; }
    const { x, y, xh, yh } = pointer;
    readout.replaceChildren('x ' + x + ' y ' + y + ' \u00b7 half pixels ' + xh + ' ' + yh + ' \u00b7 index ');
    const pixels = decodedPixels.get(current);
    if (!pixels) { readout.append('...'); return; }
    const index = pixels[y * WIDTH + x];
    const [r, g, b] = colourOf(index);
    const colour = '#' + hex2(r) + hex2(g) + hex2(b);
    const swatch = element('span', 'swatch');
    swatch.style.background = colour;
    readout.append('0x' + hex2(index) + ' ', swatch, ' ' + colour + (frames[current][1] ? ' (grey)' : ''));
  }

  stage.addEventListener('mousemove', (event) => {
    const box = picture.getBoundingClientRect();
    const px = (event.clientX - box.left) / zoom, py = (event.clientY - box.top) / zoom;
    if (px < 0 || py < 0 || px >= WIDTH || py >= HEIGHT) { pointer = null; showReadout(); return; }
    pointer = { x: Math.floor(px), y: Math.floor(py), xh: Math.floor(px * 2), yh: Math.floor(py * 2) };
    showReadout();
  });
  stage.addEventListener('mouseleave', () => { pointer = null; showReadout(); });

  // ------------------------------------------------------------- controls

  function setZoom(z) {
    zoom = z;
    stage.style.width = WIDTH * z + 'px';
    document.querySelectorAll('.zoom button').forEach((b) => b.classList.toggle('on', Number(b.dataset.zoom) === z));
    if (current >= 0) showChanges();
  }

  document.querySelectorAll('.zoom button').forEach((b) => {
    b.addEventListener('click', () => setZoom(Number(b.dataset.zoom)));
  });
  changesBox.addEventListener('change', showChanges);
  strip.addEventListener('click', (event) => {
    const thumb = event.target.closest('.thumb');
    if (!thumb) return;
    event.preventDefault();
    select(Number(thumb.dataset.frame));
  });
  commandList.addEventListener('click', (event) => {
    const link = event.target.closest('a[data-goto]');
    if (!link) return;
    event.preventDefault();
    select(Number(link.dataset.goto));
  });
  document.addEventListener('keydown', (event) => {
    if (event.altKey || event.ctrlKey || event.metaKey) return;
    switch (event.key) {
      case 'ArrowLeft': select(current - 1); break;
      case 'ArrowRight': select(current + 1); break;
      case 'Home': select(0); break;
      case 'End': select(frameCount - 1); break;
      case '1': case '2': case '4': setZoom(Number(event.key)); break;
      case 'c': case 'C': changesBox.checked = !changesBox.checked; changesBox.dispatchEvent(new Event('change')); break;
      default: return;
    }
    event.preventDefault();
  });
  window.addEventListener('hashchange', () => select(parseInt(location.hash.slice(1), 10)));

  // Thumbnails load as they come near the strip's visible part.
  const thumbLoader = new IntersectionObserver((entries) => {
    entries.forEach((entry) => {
      if (!entry.isIntersecting) return;
      const image = entry.target;
      image.src = image.dataset.src;
      image.removeAttribute('data-src');
      thumbLoader.unobserve(image);
    });
  }, { root: strip, rootMargin: '0px 1600px' });
  strip.querySelectorAll('img[data-src]').forEach((image) => thumbLoader.observe(image));

  $('count').textContent = frameCount + (frameCount === 1 ? ' frame' : ' frames') + ', ' + summary.bytes + ' bytes';
  // Twice the size when the window has room for it beside the commands.
  setZoom(window.innerWidth >= 2 * WIDTH + 400 ? 2 : 1);
  const start = parseInt(location.hash.slice(1), 10);
  select(Number.isNaN(start) ? 0 : start);
})();
