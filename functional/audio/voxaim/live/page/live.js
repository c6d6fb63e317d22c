// The live view: follows the tool's event stream (/events) and draws the
// current frame's search maps with the chosen position, its numbers and
// flags, and a timeline of the last 30 seconds. No libraries, no fetches
// beyond this server.
"use strict";

(function () {
  const HISTORY_SECONDS = 30;
  const MARGIN = { left: 58, right: 12, top: 10, bottom: 30 };
  const TIMELINE_LEFT = 150;
  const LANE_COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f"];
  // Dark blue, teal, green, yellow: the heat maps' colours from low to high.
  const HEAT_STOPS = [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]];
  const MAP_ASPECT = 320 / 500; // height to width

  const $ = (id) => document.getElementById(id);
  const state = { hello: null, history: [], last: null, lost: 0, ended: false, drawPending: false };
  const heat = heatColours();

  function heatColours() {
    const table = [];
    for (let v = 0; v < 256; ++v) {
      const x = (v / 255) * (HEAT_STOPS.length - 1);
      const i = Math.min(Math.floor(x), HEAT_STOPS.length - 2);
      const f = x - i;
      table.push(HEAT_STOPS[i].map((c, k) => Math.round(c + (HEAT_STOPS[i + 1][k] - c) * f)));
    }
    return table;
  }

  function setStatus(text, kind) {
    const status = $("status");
    status.textContent = text;
    status.className = "status " + (kind || "");
  }

  function connect() {
    const source = new EventSource("events");
    source.addEventListener("hello", (e) => {
      start(JSON.parse(e.data));
      setStatus("live", "live");
    });
    source.onmessage = (e) => onFrame(JSON.parse(e.data));
    source.addEventListener("end", (e) => {
      state.ended = true;
      source.close();
      setStatus("ended after " + JSON.parse(e.data).frames + " frames", "ended");
    });
    source.onerror = () => {
      if (state.ended) return;
      if (source.readyState === EventSource.CLOSED) {
        // Refused (too many viewers) or not an event stream: try again later.
        setStatus("disconnected, retrying");
        setTimeout(connect, 3000);
      } else {
        setStatus("reconnecting");
      }
    };
  }

  function start(hello) {
    state.hello = hello;
    $("source").textContent = hello.program + ": " + hello.variant + (hello.source ? ", " + hello.source : "");
    const list = $("flag-list");
    list.textContent = "";
    hello.flags.forEach((flag, lane) => {
      const item = document.createElement("li");
      item.id = "flag-" + flag.bit;
      item.dataset.colour = LANE_COLOURS[lane % LANE_COLOURS.length];
      item.textContent = flagLabel(flag.name);
      list.appendChild(item);
    });
    for (const name of ["elevation", "range"]) {
      $("figure-" + name).hidden = !hello.grids[name];
    }
  }

  // The heat maps' colours along their scales, lowest at the bottom.
  function paintScales() {
    const stops = HEAT_STOPS.map((c, i) => "rgb(" + c.join(",") + ") " + (100 * i) / (HEAT_STOPS.length - 1) + "%");
    for (const bar of document.querySelectorAll(".scale .bar")) {
      bar.style.background = "linear-gradient(to top, " + stops.join(", ") + ")";
    }
  }

  // A canvas's drawing size follows its size on the page (width; the maps
  // keep their proportions), so that its text stays as large as designed.
  function fit(canvas, aspect) {
    const width = Math.round(canvas.clientWidth);
    if (width > 0 && canvas.width !== width) {
      canvas.width = width;
      if (aspect) canvas.height = Math.round(width * aspect);
    }
  }

  function flagLabel(name) {
    return name.replace(/^VOXAIM_OUT_/, "").toLowerCase().replace(/_/g, " ");
  }

  function onFrame(frame) {
    if (!state.hello) return;
    const last = state.last;
    if (last && frame.frame <= last.frame) {
      state.history = []; // a new run of the tool
    } else if (last) {
      state.lost += frame.frame - last.frame - 1;
    }
    state.last = frame;
    state.history.push(frame);
    const keep = HISTORY_SECONDS / state.hello.framePeriod;
    while (state.history.length && state.history[0].frame < frame.frame - keep) state.history.shift();
    showNumbers(frame);
    if (!state.drawPending) {
      state.drawPending = true;
      requestAnimationFrame(() => {
        state.drawPending = false;
        draw();
      });
    }
  }

  function fixed(value, digits) {
    return value === null ? "n/a" : value.toFixed(digits);
  }

  function showNumbers(frame) {
    $("frame").textContent = frame.frame;
    $("azimuth").textContent = fixed(frame.azimuth, 1);
    // Null without an elevation grid: not estimated.
    $("elevation").textContent = state.hello.grids.elevation ? fixed(frame.elevation, 1) : "-";
    $("range").textContent = fixed(frame.range, 2);
    $("quality").textContent = fixed(frame.quality, 3);
    $("flags").textContent = "0x" + frame.flags.toString(16).padStart(2, "0");
    $("lost").textContent = state.lost;
    for (const flag of state.hello.flags) {
      const item = $("flag-" + flag.bit);
      const on = (frame.flags >> flag.bit) & 1;
      item.className = on ? "on" : "off";
      item.style.borderLeftColor = on ? item.dataset.colour : "";
    }
  }

  function draw() {
    // The frames a late viewer missed come first, without maps: the maps
    // stay as drawn until a frame with maps comes.
    const frame = state.last;
    for (const name of ["elevation", "range"]) {
      if (state.hello.grids[name] && frame.map && frame.map[name]) {
        fit($("map-" + name), MAP_ASPECT);
        drawMap($("map-" + name), state.hello.grids[name], frame.map[name], frame.quality);
        showScale($("scale-" + name), frame.map[name]);
      }
    }
    fit($("timeline"));
    drawTimeline();
  }

  // The powers the colours stand for: each block's byte spans the frame's
  // "lo" to "hi".
  function showScale(scale, map) {
    const value = (v) => (v === null ? "n/a" : Number(v.toPrecision(3)).toString());
    scale.querySelector(".hi").textContent = value(map.hi);
    scale.querySelector(".lo").textContent = value(map.lo);
  }

  // Ticks where the (monotonic) axis values cross multiples of `step`; x(i)
  // places axis index i. NaN entries (no angle) are skipped.
  function ticks(values, step) {
    const out = [];
    for (let i = 1; i < values.length; ++i) {
      const a = values[i - 1], b = values[i];
      if (a === null || b === null) continue;
      for (let t = Math.ceil(Math.min(a, b) / step) * step; t <= Math.max(a, b); t += step) {
        if (t === a && i > 1) continue;
        out.push({ at: i - 1 + (b === a ? 0 : (t - a) / (b - a)), label: Number(t.toFixed(2)) });
      }
    }
    return out;
  }

  function drawMap(canvas, grid, map, quality) {
    const ctx = canvas.getContext("2d");
    const w = Math.ceil(grid.columns / grid.columnStep);
    const h = Math.ceil(grid.rows / grid.rowStep);
    const cells = atob(map.cells);
    const image = new ImageData(w, h);
    for (let r = 0; r < h; ++r) {
      for (let c = 0; c < w; ++c) {
        const colour = heat[cells.charCodeAt(r * w + c)];
        const at = ((h - 1 - r) * w + c) * 4; // first row at the bottom
        image.data.set(colour, at);
        image.data[at + 3] = 255;
      }
    }
    const off = document.createElement("canvas");
    off.width = w;
    off.height = h;
    off.getContext("2d").putImageData(image, 0, 0);

    const plot = { x: MARGIN.left, y: MARGIN.top, w: canvas.width - MARGIN.left - MARGIN.right,
                   h: canvas.height - MARGIN.top - MARGIN.bottom };
    const x = (column) => plot.x + (column / (w * grid.columnStep)) * plot.w;
    const y = (row) => plot.y + plot.h - (row / (h * grid.rowStep)) * plot.h;
    ctx.clearRect(0, 0, canvas.width, canvas.height);
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(off, plot.x, plot.y, plot.w, plot.h);

    ctx.fillStyle = "#333";
    ctx.strokeStyle = "#333";
    ctx.font = "11px sans-serif";
    ctx.textAlign = "center";
    for (const t of ticks(grid.azimuths, 15)) {
      ctx.fillRect(x(t.at + 0.5), plot.y + plot.h, 1, 4);
      ctx.fillText(t.label + "\u00b0", x(t.at + 0.5), plot.y + plot.h + 15);
    }
    ctx.fillText("azimuth", plot.x + plot.w / 2, canvas.height - 3);
    ctx.textAlign = "right";
    const unit = grid.unit === "degrees" ? "\u00b0" : " m";
    for (const t of ticks(grid.values, grid.unit === "degrees" ? 15 : 1)) {
      ctx.fillRect(plot.x - 4, y(t.at + 0.5), 4, 1);
      ctx.fillText(t.label + unit, plot.x - 6, y(t.at + 0.5) + 4);
    }

    // The chosen cell: the engine's answer. A frame of quality 0 has none
    // (no correlation yet, or far-end activity: the search picked nothing).
    if (quality === 0) return;
    ctx.beginPath();
    ctx.arc(x(map.chosen[0] + 0.5), y(map.chosen[1] + 0.5), 7, 0, 2 * Math.PI);
    ctx.lineWidth = 3;
    ctx.strokeStyle = "#fff";
    ctx.stroke();
    ctx.lineWidth = 1.5;
    ctx.strokeStyle = "#e0245e";
    ctx.stroke();
  }

  function drawTimeline() {
    const canvas = $("timeline");
    const ctx = canvas.getContext("2d");
    const hello = state.hello;
    const history = state.history;
    const period = hello.framePeriod;
    const end = state.last.frame * period;
    const start = end - HISTORY_SECONDS;
    const strips = [
      { key: "azimuth", label: "azimuth (\u00b0)" },
      { key: "elevation", label: "elevation (\u00b0)" },
      { key: "range", label: "range (m)" },
      { key: "quality", label: "quality" },
    ];
    const laneHeight = 14;
    const lanesTop = canvas.height - MARGIN.bottom - hello.flags.length * laneHeight;
    const stripHeight = (lanesTop - MARGIN.top - 10) / strips.length;
    const left = TIMELINE_LEFT;
    const plotW = canvas.width - left - MARGIN.right - 60;
    const x = (t) => left + ((t - start) / HISTORY_SECONDS) * plotW;
    ctx.clearRect(0, 0, canvas.width, canvas.height);
    ctx.font = "11px sans-serif";

    strips.forEach((strip, n) => {
      const top = MARGIN.top + n * stripHeight;
      const h = stripHeight - 8;
      // Scaled to the frames with an estimate (quality above 0).
      const values = history.filter((f) => f[strip.key] !== null && f.quality !== 0).map((f) => f[strip.key]);
      let lo = Math.min(...values), hi = Math.max(...values);
      if (!(hi > lo)) {
        lo = (values.length ? lo : 0) - 1;
        hi = lo + 2;
      }
      const y = (v) => top + h - ((v - lo) / (hi - lo)) * h;
      ctx.fillStyle = "#fafafa";
      ctx.fillRect(left, top, plotW, h);
      ctx.fillStyle = "#333";
      ctx.textAlign = "right";
      ctx.fillText(strip.label, left - 6, top + h / 2 + 4);
      ctx.textAlign = "left";
      ctx.fillText(hi.toFixed(2), left + plotW + 4, top + 9);
      ctx.fillText(lo.toFixed(2), left + plotW + 4, top + h);
      // Frames with quality 0 (no correlation yet) are gaps, as are lost ones.
      ctx.strokeStyle = LANE_COLOURS[n];
      ctx.lineWidth = 1.5;
      ctx.beginPath();
      let previous = null;
      for (const f of history) {
        const v = f[strip.key];
        if (v === null || f.quality === 0) { previous = null; continue; }
        const px = x(f.frame * period), py = y(v);
        if (previous !== null && f.frame === previous + 1) ctx.lineTo(px, py);
        else { ctx.moveTo(px, py); ctx.lineTo(px + 0.5, py); }
        previous = f.frame;
      }
      ctx.stroke();
    });

    hello.flags.forEach((flag, lane) => {
      const top = lanesTop + lane * laneHeight;
      ctx.fillStyle = "#333";
      ctx.textAlign = "right";
      ctx.fillText(flagLabel(flag.name), left - 6, top + 10);
      ctx.fillStyle = "#f0f0f0";
      ctx.fillRect(left, top + 1, plotW, laneHeight - 2);
      ctx.fillStyle = LANE_COLOURS[lane % LANE_COLOURS.length];
      for (const f of history) {
        if ((f.flags >> flag.bit) & 1) {
          const t = f.frame * period;
          ctx.fillRect(x(t), top + 2, Math.max(1, x(t + period) - x(t)), laneHeight - 4);
        }
      }
    });

    ctx.fillStyle = "#333";
    ctx.textAlign = "center";
    const bottom = canvas.height - MARGIN.bottom;
    for (let t = Math.ceil(start / 5) * 5; t <= end; t += 5) {
      if (t < 0) continue;
      ctx.fillRect(x(t), bottom, 1, 4);
      ctx.fillText(t + " s", x(t), bottom + 15);
    }
  }

  paintScales();
  window.addEventListener("resize", () => {
    if (state.last && !state.drawPending) draw();
  });
  connect();
})();
