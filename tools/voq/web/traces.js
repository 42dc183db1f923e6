// The traces view of `voq view` (the page at /): every output channel as a
// scrolling trace, trigger markers, and the controls.
//
// Points arrive as (smallest, largest) pairs, about 150 a second per
// channel, in events every few tens of milliseconds, and are kept for the
// longest window in a ring per channel.  The display's head (the point at
// the right edge) moves on smoothly with the clock, a little behind the
// newest point so that it need not stop between events.  The picture is
// two canvases as wide as the view, side by side on an endless strip, moved
// left by the browser (a CSS transform) as the head advances: a frame only
// draws the new points, and a canvas that has scrolled out is cleared and
// put on the right.  A change of scale, window or size draws everything
// again.
"use strict";

(() => {
  if (voqCommon.view !== "traces") return;
  const tiles = Array.from(document.querySelectorAll("#plot canvas"), (canvas) =>
    ({ canvas, ctx: canvas.getContext("2d"), index: null }));
  let ctx = tiles[0].ctx;      // the canvas being drawn on
  const traces = document.getElementById("traces");
  const plot = document.getElementById("plot");
  const names = document.getElementById("names");
  const scaleSelect = document.getElementById("scale");
  const windowSelect = document.getElementById("window");
  const pauseButton = document.getElementById("pause");
  const filterBox = document.getElementById("filter-box");
  const filterSelect = document.getElementById("filter");

  const LONGEST_WINDOW = 20;   // seconds
  const COLOURS = { eeg: "#1f3f8f", trigger: "#c25a0c", other: "#2f6b47" };
  const MARKER = "rgba(200, 30, 60, 0.8)";
  const GRID = "rgba(60, 70, 90, 0.18)";

  let hello = null;
  let capacity = 0;            // points kept per channel
  let lows = [];               // per channel, ring indexed by point number
  let highs = [];
  let newest = -1;             // number of the newest point kept
  let oldest = 0;              // number of the oldest point kept
  let triggers = [];           // {sample, channel, value}, oldest first
  let ranges = [];             // per channel: [bottom, top] of non-EEG channels
  let paused = false;
  let needFull = true;         // everything must be drawn again
  let lastStatus = null;

  // The head, in points (fractional), and what steers it.
  let head = -1;
  let lastFrame = 0;           // performance.now() of the last frame
  let eventGap = 20;           // smoothed time between data events, ms
  let lastEvent = 0;
  const arrivals = [];         // [last point, arrival ms] of events not drawn in full

  // Geometry in device pixels.
  let width = 0;
  let height = 0;
  let rowHeight = 0;
  let dpr = 1;
  let perPoint = 1;            // pixels per point
  let drawnHead = 0;           // the view's right edge, in pixels from point 0
  let drawnEnd = 0;            // number of the first point not drawn yet

  // For tests and measurements: frames drawn (that changed the picture),
  // and for each data event how long after its newest sample arrived at
  // voq view that sample was drawn (ms).
  const stats = { frames: 0, latencies: [] };
  window.voqView = {
    frames: () => stats.frames,
    latencies: () => stats.latencies.slice(),
    channels: () => (hello ? hello.channels.map((c) => c.name) : []),
    status: () => lastStatus,
  };

  function scaleMicrovolts() { return Number(scaleSelect.value); }
  function windowSeconds() { return Number(windowSelect.value); }

  // ---- Data

  function clearPoints(from, to) {
    for (let p = Math.max(from, to - capacity); p < to; p++) {
      const i = p % capacity;
      for (let c = 0; c < lows.length; c++) { lows[c][i] = NaN; highs[c][i] = NaN; }
    }
  }

  function padded(bottom, top) {
    const span = Math.max(top - bottom, Math.abs(top) * 0.1, 1e-3);
    return [bottom - span * 0.1, top + span * 0.1];
  }

  // Widens the range of a non-EEG channel to take [low, high].
  function watchRange(c, low, high) {
    if (!(low <= high)) return;
    const kind = hello.channels[c].kind;
    const r = ranges[c];
    if (kind === "trigger") {
      if (r && high <= r[1]) return;
      let top = 1;
      while (top < high) top *= 2;
      ranges[c] = [0, top];
    } else {
      if (r && low >= r[0] && high <= r[1]) return;
      ranges[c] = r ? padded(Math.min(low, r[0]), Math.max(high, r[1])) : padded(low, high);
    }
    needFull = true;
  }

  function onData(d) {
    if (!hello) return;
    const first = d.point;
    const n = d.points;
    if (n > 0 && first + n - 1 > newest) {
      if (newest < 0) oldest = first;
      else if (first > newest + 1) clearPoints(newest + 1, first);   // dropped on the way
      const scale = hello.valueScale;
      for (let c = 0; c < hello.channels.length; c++) {
        const values = d.values[c];
        const low = lows[c];
        const high = highs[c];
        let least = Infinity;
        let most = -Infinity;
        for (let k = 0; k < n; k++) {
          const i = (first + k) % capacity;
          const a = values[2 * k];
          const b = values[2 * k + 1];
          low[i] = a === null ? NaN : a / scale;
          high[i] = b === null ? NaN : b / scale;
          if (low[i] < least) least = low[i];
          if (high[i] > most) most = high[i];
        }
        if (hello.channels[c].kind !== "eeg") watchRange(c, least, most);
      }
      newest = first + n - 1;
      oldest = Math.max(oldest, newest - capacity + 1);
      arrivals.push([newest, d.arrival]);
      if (arrivals.length > 1000) arrivals.shift();
      const now = performance.now();
      if (lastEvent > 0) eventGap = 0.9 * eventGap + 0.1 * Math.min(200, now - lastEvent);
      lastEvent = now;
    }
    for (const t of d.triggers) triggers.push({ sample: t[0], channel: t[1], value: t[2] });
    const keepFrom = oldest * hello.decimation;
    let drop = 0;
    while (drop < triggers.length && triggers[drop].sample < keepFrom) drop++;
    if (drop > 0) triggers.splice(0, drop);
  }

  // ---- Drawing

  function layout() {
    if (!hello) return;
    dpr = window.devicePixelRatio || 1;
    const count = hello.channels.length;
    const cssWidth = Math.max(plot.clientWidth, 50);
    const cssRow = Math.max(16, Math.floor(traces.clientHeight / count));
    const cssHeight = cssRow * count;
    plot.style.height = cssHeight + "px";
    names.style.height = cssHeight + "px";
    plot.style.backgroundImage = "repeating-linear-gradient(to bottom, #ffffff 0px, #ffffff " + cssRow +
      "px, #f2f4f8 " + cssRow + "px, #f2f4f8 " + 2 * cssRow + "px)";
    for (const tile of tiles) {
      tile.canvas.style.width = cssWidth + "px";
      tile.canvas.style.height = cssHeight + "px";
      tile.canvas.width = Math.round(cssWidth * dpr);
      tile.canvas.height = Math.round(cssHeight * dpr);
      tile.index = null;
    }
    width = tiles[0].canvas.width;
    height = tiles[0].canvas.height;
    rowHeight = height / count;
    const font = Math.min(14, Math.max(9, cssRow * 0.7));
    for (let c = 0; c < names.children.length; c++) {
      const label = names.children[c];
      label.style.top = (c + 0.5) * cssRow + "px";
      label.style.fontSize = font + "px";
    }
    perPoint = width / (windowSeconds() * hello.pointRate);
    needFull = true;
  }

  function yOf(c, value) {
    const top = c * rowHeight;
    let y;
    if (hello.channels[c].kind === "eeg") {
      y = top + rowHeight / 2 - (value / scaleMicrovolts()) * (rowHeight / 2);
    } else {
      const r = ranges[c] || [0, 1];
      y = top + rowHeight - 2 * dpr - ((value - r[0]) / (r[1] - r[0])) * (rowHeight - 4 * dpr);
    }
    return Math.min(top + rowHeight - 1, Math.max(top + 1, y));
  }

  // Draws points [from, to) with the canvas's left edge at `origin`.
  function drawRange(from, to, origin) {
    const dec = hello.decimation;
    const rate = hello.rate;

    ctx.lineWidth = Math.max(1, Math.round(dpr));
    ctx.strokeStyle = GRID;
    ctx.beginPath();
    for (let s = Math.ceil((from * dec) / rate); s * rate < to * dec; s++) {
      const x = Math.round(((s * rate) / dec) * perPoint - origin) + 0.5;
      ctx.moveTo(x, 0);
      ctx.lineTo(x, height);
    }
    ctx.stroke();

    const start = Math.max(from - 1, oldest);
    ctx.lineJoin = "round";
    for (let c = 0; c < hello.channels.length; c++) {
      const low = lows[c];
      const high = highs[c];
      ctx.strokeStyle = COLOURS[hello.channels[c].kind] || COLOURS.other;
      ctx.beginPath();
      let pen = false;
      let lastY = 0;
      for (let p = start; p < to; p++) {
        const i = p % capacity;
        const a = low[i];
        const b = high[i];
        if (Number.isNaN(a) || Number.isNaN(b)) { pen = false; continue; }
        const x = p * perPoint - origin;
        const yTop = yOf(c, b);
        const yBottom = yOf(c, a);
        if (!pen) {
          ctx.moveTo(x, yTop);
          ctx.lineTo(x, yBottom);
          lastY = yBottom;
          pen = true;
        } else if (Math.abs(lastY - yTop) <= Math.abs(lastY - yBottom)) {
          ctx.lineTo(x, yTop);
          ctx.lineTo(x, yBottom);
          lastY = yBottom;
        } else {
          ctx.lineTo(x, yBottom);
          ctx.lineTo(x, yTop);
          lastY = yTop;
        }
      }
      ctx.stroke();
    }

    // A marker where a trigger takes a new non-zero value, labelled with
    // it on the left of the line (which later strips do not clear).
    const triggerChannels = hello.channels.filter((ch) => ch.kind === "trigger").length;
    ctx.font = "bold " + Math.round(11 * dpr) + "px sans-serif";
    ctx.textBaseline = "top";
    for (const t of triggers) {
      if (t.value === 0) continue;
      const point = t.sample / dec;
      if (point < from || point >= to) continue;
      const x = Math.round(point * perPoint - origin) + 0.5;
      ctx.strokeStyle = MARKER;
      ctx.beginPath();
      ctx.moveTo(x, 0);
      ctx.lineTo(x, height);
      ctx.stroke();
      const text = (triggerChannels > 1 ? hello.channels[t.channel].name + " " : "") + t.value;
      const w = ctx.measureText(text).width;
      ctx.fillStyle = "rgba(255, 255, 255, 0.85)";
      ctx.fillRect(x - w - 5 * dpr, dpr, w + 4 * dpr, 13 * dpr);
      ctx.fillStyle = MARKER;
      ctx.fillText(text, x - w - 3 * dpr, 2 * dpr);
    }
  }

  // Moves the head on to `now`: at the point rate, a little faster or
  // slower to keep its distance behind the newest point (the usual gap
  // between events, 20 to 60 ms), never past the newest point, and at once back
  // to that distance after falling far behind (a pause, a late burst).
  function advance(now) {
    const rate = hello.pointRate;
    const lag = Math.min(0.06, Math.max(0.02, eventGap / 1000)) * rate;
    if (head < 0) {
      head = newest - lag;
    } else {
      const behind = (newest - head - lag) / rate;   // seconds
      const speed = 1 + Math.max(-0.2, Math.min(0.2, 2 * behind));
      head += ((now - lastFrame) / 1000) * rate * speed;
    }
    lastFrame = now;
    if (newest - head > lag + 0.15 * rate) head = newest - lag;
    head = Math.max(Math.min(head, newest), oldest);
  }

  // The canvas of tile `k` (pixels k * width to (k + 1) * width from point
  // 0), cleared and given what is drawn already when it is new there.
  function tile(k) {
    const t = tiles[((k % 2) + 2) % 2];
    if (t.index !== k) {
      t.index = k;
      t.ctx.clearRect(0, 0, width, height);
      drawInto(t, oldest, drawnEnd);
    }
    return t;
  }

  // Draws points [from, to) on tile `t`, as far as they fall on it (with a
  // margin for the lines across its edges and the markers' labels).
  function drawInto(t, from, to) {
    const origin = t.index * width;
    const first = Math.max(from, Math.floor(origin / perPoint) - 1);
    const last = Math.min(to, Math.ceil((origin + width + 40 * dpr) / perPoint) + 1);
    if (first >= last) return;
    ctx = t.ctx;
    drawRange(first, last, origin);
  }

  // Puts the tiles where the view's right edge at `pixel` wants them.
  function place(pixel) {
    const left = pixel - width;
    const k = Math.floor(left / width);
    for (const t of [tile(k), tile(k + 1)]) {
      t.canvas.style.transform = "translateX(" + (t.index * width - left) / dpr + "px)";
    }
  }

  function drawAll() {
    for (const t of tiles) t.index = null;
    drawnEnd = Math.floor(head) + 1;
    drawnHead = Math.floor(head * perPoint) + 2;
    place(drawnHead);
  }

  // Draws what the head's advance brought; false when nothing changed.
  function drawNew() {
    const pixel = Math.floor(head * perPoint) + 2;
    const end = Math.floor(head) + 1;
    const shift = pixel - drawnHead;
    if (shift === 0 && end <= drawnEnd) return false;
    if (shift < 0 || shift >= width) {
      drawAll();
      return true;
    }
    if (end > drawnEnd) {
      for (const t of tiles) if (t.index !== null) drawInto(t, drawnEnd, end);
      drawnEnd = end;
    }
    drawnHead = pixel;
    place(pixel);
    return true;
  }

  function frame(now) {
    requestAnimationFrame(frame);
    if (!hello || newest < 0) return;
    if (paused) {
      lastFrame = now;
      return;
    }
    advance(now);
    if (needFull) drawAll();
    else if (!drawNew()) return;
    needFull = false;
    stats.frames += 1;
    const wall = performance.timeOrigin + performance.now();
    while (arrivals.length > 0 && arrivals[0][0] < drawnEnd) {
      stats.latencies.push(wall - arrivals.shift()[1]);
    }
    if (stats.latencies.length > 6000) stats.latencies.splice(0, 1000);
  }

  // ---- Stream and controls

  function sameChannels(a, b) {
    return a.rate === b.rate && a.decimation === b.decimation && a.channels.length === b.channels.length &&
      a.channels.every((ch, i) => ch.name === b.channels[i].name && ch.kind === b.channels[i].kind);
  }

  function onHello(h) {
    const keep = hello && sameChannels(hello, h);
    hello = h;
    if (!keep) {
      capacity = Math.ceil((LONGEST_WINDOW + 2) * h.pointRate);
      lows = h.channels.map(() => new Float32Array(capacity).fill(NaN));
      highs = h.channels.map(() => new Float32Array(capacity).fill(NaN));
      ranges = h.channels.map(() => null);
      newest = -1;
      oldest = 0;
      head = -1;
      arrivals.length = 0;
      triggers = [];
      names.replaceChildren(...h.channels.map((ch) => {
        const label = document.createElement("span");
        label.className = ch.kind;
        label.textContent = ch.name;
        return label;
      }));
    }
    filterBox.hidden = h.filters.length < 2;
    filterSelect.replaceChildren(...h.filters.map((f) => {
      const option = document.createElement("option");
      option.value = f.id;
      option.textContent = f.label;
      option.selected = f.id === h.filter;
      return option;
    }));
    voqCommon.showHeadset(h);
    layout();
  }

  function showStatus() {
    if (!lastStatus) return;
    voqCommon.showStatus(lastStatus, paused ? [voqCommon.item("paused", true)] : []);
  }

  voqCommon.connect("traces", {
    hello: onHello,
    data: onData,
    status: (s) => { lastStatus = s; showStatus(); },
  });

  scaleSelect.addEventListener("change", () => { needFull = true; });
  windowSelect.addEventListener("change", layout);
  window.addEventListener("resize", layout);
  pauseButton.addEventListener("click", () => {
    paused = !paused;
    pauseButton.textContent = paused ? "Resume" : "Pause";
    needFull = true;
    showStatus();
  });
  filterSelect.addEventListener("change", () => {
    fetch("/control/filter", { method: "POST", body: filterSelect.value }).catch(() => {});
  });
  requestAnimationFrame(frame);
})();
