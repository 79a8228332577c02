// SPDX-License-Identifier: MIT
// The page of one recording: the video is the clock. Playing or seeking it moves the car on
// the map and the cursor on the charts; clicking the map, a chart or an event seeks it.
// Without a video a slider is the clock. Without Leaflet (or offline) the route is drawn
// plainly. The data come from the page itself, so the page opens from a card (file://).
'use strict';
(function () {
  const R = JSON.parse(document.getElementById('kv-data').textContent);
  const KMH_PER_MPH = 1.609344;
  const front = document.getElementById('front');
  const rear = document.getElementById('rear');
  const slider = document.getElementById('clock');
  let unit = localStorage.getItem('kv-unit') === 'mph' ? 'mph' : 'kmh';


  // unit_text.js: showUnitInText(unit), put here when kv_export is built

  // ---- the clock ------------------------------------------------------------------
  function now() { return front ? front.currentTime : Number(slider.value); }
  function seek(t) {
    t = Math.max(0, Math.min(t, R.duration));
    if (front) {
      front.currentTime = t;
    } else {
      slider.value = t;
    }
    update();
  }

  // ---- the track ------------------------------------------------------------------
  // Index of the last element of `a` that is <= v, or -1.
  function lastAtOrBefore(a, v) {
    let lo = 0, hi = a.length - 1, found = -1;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (a[mid] <= v) { found = mid; lo = mid + 1; } else { hi = mid - 1; }
    }
    return found;
  }
  // The stretch with fix of each position: positions i and i+1 are joined only inside one.
  const stretchOf = new Int32Array(R.t.length);
  R.seg.forEach((start, s) => { for (let i = start; i < R.t.length; ++i) stretchOf[i] = s; });

  // Where the car was at t: between two fixes of one stretch linearly, else the last fix
  // (marked stale when it is more than a second and a half old: no fix, a tunnel).
  function positionAt(t) {
    const i = lastAtOrBefore(R.t, t);
    if (i < 0) return null;
    const j = i + 1;
    if (j < R.t.length && stretchOf[j] === stretchOf[i] && R.t[j] > R.t[i]) {
      const f = (t - R.t[i]) / (R.t[j] - R.t[i]);
      return { lat: R.lat[i] + f * (R.lat[j] - R.lat[i]), lon: R.lon[i] + f * (R.lon[j] - R.lon[i]),
               kmh: R.kmh[i] + f * (R.kmh[j] - R.kmh[i]), stale: false };
    }
    return { lat: R.lat[i], lon: R.lon[i], kmh: R.kmh[i], stale: t - R.t[i] > 1.5 };
  }

  function nearestPosition(lat, lon) {
    const k = Math.cos(lat * Math.PI / 180);
    let best = -1, bestD = Infinity;
    for (let i = 0; i < R.t.length; ++i) {
      const dy = R.lat[i] - lat, dx = (R.lon[i] - lon) * k, d = dx * dx + dy * dy;
      if (d < bestD) { bestD = d; best = i; }
    }
    return best;
  }

  // ---- the map --------------------------------------------------------------------
  const mapBox = document.getElementById('map');
  let marker = null, plain = null;
  function leafletMap() {
    const map = L.map(mapBox, { preferCanvas: true });
    if (R.tiles) {
      L.tileLayer(R.tiles, { maxZoom: 19,
        attribution: '&copy; <a href="https://www.openstreetmap.org/copyright">OpenStreetMap</a> contributors' }).addTo(map);
    }
    const lines = R.seg.map((start, s) => {
      const end = s + 1 < R.seg.length ? R.seg[s + 1] : R.t.length;
      const pts = [];
      for (let i = start; i < end; ++i) pts.push([R.lat[i], R.lon[i]]);
      return pts;
    });
    const route = L.polyline(lines, { color: '#1565c0', weight: 4 }).addTo(map);
    lines.filter(l => l.length === 1).forEach(l => L.circleMarker(l[0], { radius: 4, color: '#1565c0' }).addTo(map));
    map.fitBounds(route.getBounds(), { padding: [20, 20], maxZoom: 17 });
    marker = L.circleMarker([R.lat[0], R.lon[0]], { radius: 8, color: '#fff', weight: 3,
      fillColor: '#d32f2f', fillOpacity: 1 }).addTo(map);
    map.on('click', e => { const i = nearestPosition(e.latlng.lat, e.latlng.lng); if (i >= 0) seek(R.t[i]); });
    return {
      move(p) { marker.setLatLng([p.lat, p.lon]); marker.setStyle({ fillColor: p.stale ? '#999' : '#d32f2f' }); },
      pixelOf(lat, lon) { const pt = map.latLngToContainerPoint([lat, lon]); return [pt.x, pt.y]; },
      markerAt() { const ll = marker.getLatLng(); return [ll.lat, ll.lng]; },
    };
  }

  // The route alone on a canvas, to scale: for a page opened without Leaflet.
  function plainMap() {
    const canvas = document.createElement('canvas');
    canvas.className = 'plain';
    mapBox.appendChild(canvas);
    let lat0 = Infinity, lat1 = -Infinity, lon0 = Infinity, lon1 = -Infinity;
    for (let i = 0; i < R.t.length; ++i) {
      lat0 = Math.min(lat0, R.lat[i]); lat1 = Math.max(lat1, R.lat[i]);
      lon0 = Math.min(lon0, R.lon[i]); lon1 = Math.max(lon1, R.lon[i]);
    }
    const k = Math.cos((lat0 + lat1) / 2 * Math.PI / 180);
    let current = null;
    function geometry() {
      const w = mapBox.clientWidth, h = mapBox.clientHeight, pad = 20;
      const spanX = Math.max((lon1 - lon0) * k, 1e-6), spanY = Math.max(lat1 - lat0, 1e-6);
      const s = Math.min((w - 2 * pad) / spanX, (h - 2 * pad) / spanY);
      const ox = (w - spanX * s) / 2, oy = (h - spanY * s) / 2;
      return { w, h, px: lon => ox + (lon - lon0) * k * s, py: lat => h - oy - (lat - lat0) * s,
               lon: x => lon0 + (x - ox) / (k * s), lat: y => lat0 + (h - oy - y) / s };
    }
    function draw() {
      const g = geometry(), dpr = window.devicePixelRatio || 1;
      canvas.width = g.w * dpr; canvas.height = g.h * dpr;
      const c = canvas.getContext('2d');
      c.scale(dpr, dpr);
      c.fillStyle = '#f4f6f8'; c.fillRect(0, 0, g.w, g.h);
      c.strokeStyle = '#1565c0'; c.fillStyle = '#1565c0'; c.lineWidth = 3;
      R.seg.forEach((start, s) => {
        const end = s + 1 < R.seg.length ? R.seg[s + 1] : R.t.length;
        if (end - start === 1) { c.beginPath(); c.arc(g.px(R.lon[start]), g.py(R.lat[start]), 3, 0, 7); c.fill(); return; }
        c.beginPath();
        for (let i = start; i < end; ++i) c[i === start ? 'moveTo' : 'lineTo'](g.px(R.lon[i]), g.py(R.lat[i]));
        c.stroke();
      });
      if (current) {
        c.beginPath(); c.arc(g.px(current.lon), g.py(current.lat), 7, 0, 7);
        c.fillStyle = current.stale ? '#999' : '#d32f2f'; c.fill();
        c.strokeStyle = '#fff'; c.lineWidth = 2; c.stroke();
      }
    }
    canvas.addEventListener('click', e => {
      const g = geometry(), r = canvas.getBoundingClientRect();
      const i = nearestPosition(g.lat(e.clientY - r.top), g.lon(e.clientX - r.left));
      if (i >= 0) seek(R.t[i]);
    });
    window.addEventListener('resize', draw);
    return {
      move(p) { current = p; draw(); },
      pixelOf(lat, lon) { const g = geometry(); return [g.px(lon), g.py(lat)]; },
      markerAt() { return current ? [current.lat, current.lon] : null; },
    };
  }

  // ---- the charts -----------------------------------------------------------------
  const PAD_L = 52, PAD_R = 10, PAD_T = 18, PAD_B = 22;
  class Chart {
    constructor(canvas, title, series, yUnit) {
      this.canvas = canvas; this.title = title; this.series = series; this.yUnit = yUnit;
      this.cursorT = null; this.image = null;
      canvas.addEventListener('click', e => {
        const r = canvas.getBoundingClientRect();
        seek(this.tOf(e.clientX - r.left));
      });
    }
    width() { return this.canvas.clientWidth; }
    xOf(t) { return PAD_L + t / Math.max(R.duration, 1e-3) * (this.width() - PAD_L - PAD_R); }
    tOf(x) { return (x - PAD_L) / (this.width() - PAD_L - PAD_R) * R.duration; }
    render() {
      const w = this.canvas.clientWidth, h = this.canvas.clientHeight, dpr = window.devicePixelRatio || 1;
      const off = document.createElement('canvas');
      off.width = w * dpr; off.height = h * dpr;
      const c = off.getContext('2d');
      c.scale(dpr, dpr);
      c.fillStyle = '#fff'; c.fillRect(0, 0, w, h);
      c.font = '11px sans-serif';
      // Shaded: the pre-event part, and the stretches without fix.
      c.fillStyle = '#eef3fb';
      if (R.preEventEnd > 0) c.fillRect(this.xOf(0), PAD_T, this.xOf(R.preEventEnd) - this.xOf(0), h - PAD_T - PAD_B);
      c.fillStyle = '#f2f2f2';
      R.noFix.forEach(([a, b]) => c.fillRect(this.xOf(a), PAD_T, Math.max(1, this.xOf(b) - this.xOf(a)), h - PAD_T - PAD_B));
      let lo = Infinity, hi = -Infinity;
      this.series.forEach(s => s.y().forEach(v => { lo = Math.min(lo, v); hi = Math.max(hi, v); }));
      if (!isFinite(lo)) { lo = 0; hi = 1; }
      if (this.yFromZero) lo = Math.min(lo, 0);
      if (hi - lo < 1e-9) hi = lo + 1;
      const yOf = v => h - PAD_B - (v - lo) / (hi - lo) * (h - PAD_T - PAD_B);
      c.strokeStyle = '#ccc'; c.fillStyle = '#444'; c.lineWidth = 1;
      for (let k = 0; k <= 4; ++k) {
        const v = lo + (hi - lo) * k / 4, y = yOf(v);
        c.beginPath(); c.moveTo(PAD_L, y); c.lineTo(w - PAD_R, y); c.stroke();
        c.fillText(v.toFixed(hi - lo < 5 ? 2 : 0), 4, y + 4);
      }
      const step = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800].find(s => R.duration / s <= 8) || 3600;
      for (let t = 0; t <= R.duration; t += step) {
        const x = this.xOf(t);
        c.beginPath(); c.moveTo(x, PAD_T); c.lineTo(x, h - PAD_B); c.stroke();
        c.fillText(t >= 60 ? `${Math.floor(t / 60)}:${String(t % 60).padStart(2, '0')}` : `${t} s`, x - 8, h - 6);
      }
      this.series.forEach(s => {
        const xs = s.t, ys = s.y();
        c.strokeStyle = s.color; c.fillStyle = s.color; c.lineWidth = 1.6;
        c.beginPath();
        for (let i = 0; i < xs.length; ++i) {
          const x = this.xOf(xs[i]), y = yOf(ys[i]);
          const join = i > 0 && !(s.breakBefore && s.breakBefore(i));
          c[join ? 'lineTo' : 'moveTo'](x, y);
          if (!join && !(i + 1 < xs.length && !(s.breakBefore && s.breakBefore(i + 1)))) c.fillRect(x - 1.5, y - 1.5, 3, 3);
        }
        c.stroke();
      });
      c.fillStyle = '#222'; c.font = 'bold 12px sans-serif';
      c.fillText(`${this.title} (${this.yUnit()})`, PAD_L, 13);
      let lx = w - PAD_R;
      this.series.slice().reverse().forEach(s => {
        if (!s.label) return;
        lx -= c.measureText(s.label).width + 16;
        c.fillStyle = s.color; c.fillRect(lx, 5, 10, 8); c.fillStyle = '#222'; c.fillText(s.label, lx + 13, 13);
      });
      c.strokeStyle = '#c0392b'; c.lineWidth = 1;
      R.events.forEach(ev => { const x = this.xOf(ev.t); c.setLineDash([4, 3]); c.beginPath(); c.moveTo(x, PAD_T); c.lineTo(x, h - PAD_B); c.stroke(); });
      c.setLineDash([]);
      this.image = off;
      this.paint();
    }
    paint() {
      const c = this.canvas.getContext('2d'), dpr = window.devicePixelRatio || 1;
      this.canvas.width = this.image.width; this.canvas.height = this.image.height;
      c.drawImage(this.image, 0, 0);
      if (this.cursorT === null) return;
      const x = this.xOf(this.cursorT) * dpr;
      c.strokeStyle = '#d32f2f'; c.lineWidth = 2 * dpr;
      c.beginPath(); c.moveTo(x, 0); c.lineTo(x, this.canvas.height); c.stroke();
    }
    setCursor(t) { this.cursorT = t; this.paint(); }
  }

  const toUnit = kmh => unit === 'mph' ? kmh / KMH_PER_MPH : kmh;
  const unitText = () => unit === 'mph' ? 'mph' : 'km/h';
  const charts = [];
  const speedCanvas = document.getElementById('speed-chart');
  if (speedCanvas) {
    const speed = new Chart(speedCanvas, 'speed', [{ t: R.t, y: () => R.kmh.map(toUnit), color: '#1565c0',
      breakBefore: i => stretchOf[i] !== stretchOf[i - 1] }], unitText);
    speed.yFromZero = true;
    charts.push(speed);
  }
  const gCanvas = document.getElementById('g-chart');
  if (gCanvas) {
    const scaled = a => R.gScale > 0 ? a.map(v => v / R.gScale) : a;
    charts.push(new Chart(gCanvas, 'G-forces', [
      { t: R.gt, y: () => scaled(R.gx), color: '#d35400', label: 'x' },
      { t: R.gt, y: () => scaled(R.gy), color: '#27ae60', label: 'y' },
      { t: R.gt, y: () => scaled(R.gz), color: '#8e44ad', label: 'z' }], () => R.gUnit));
  }

  // ---- the subtitles: the page's own WebVTT, given to the video as a track ----------
  const vtt = document.getElementById('kv-subtitles');
  if (front && vtt) {
    const track = document.createElement('track');
    Object.assign(track, { kind: 'subtitles', srclang: 'en', label: 'time, speed, position',
      src: URL.createObjectURL(new Blob([vtt.textContent.trimStart()], { type: 'text/vtt' })) });
    front.appendChild(track);
  }

  // ---- the readout and the whole update ------------------------------------------
  const readout = document.getElementById('readout');
  let map = null, last = null;
  function clockText(t) {
    if (R.startUtcMs !== null) {
      const d = new Date(R.startUtcMs + t * 1000 + R.zoneMinutes * 60000);
      return d.toISOString().slice(11, 19) + (R.zone ? ` (UTC${R.zone})` : ' UTC');
    }
    return `${t.toFixed(1)} s`;
  }
  function update() {
    const t = now();
    const p = R.t.length ? positionAt(t) : null;
    if (map && p) map.move(p);
    charts.forEach(c => c.setCursor(t));
    let text = `${clockText(t)} \u2014 ${t.toFixed(1)} s into the recording`;
    if (p) text += p.stale ? ' \u2014 no GPS fix' : ` \u2014 ${toUnit(p.kmh).toFixed(0)} ${unitText()}, ${p.lat.toFixed(5)}, ${p.lon.toFixed(5)}`;
    if (readout) readout.textContent = text;
    last = { t, position: p };
  }

  function syncRear() {
    if (!front || !rear) return;
    if (Math.abs(rear.currentTime - front.currentTime) > 0.25) rear.currentTime = front.currentTime;
  }
  if (front) {
    ['timeupdate', 'seeked', 'seeking', 'loadedmetadata'].forEach(e => front.addEventListener(e, update));
    front.addEventListener('play', () => { if (rear) { syncRear(); rear.play().catch(() => {}); } tick(); });
    front.addEventListener('pause', () => { if (rear) rear.pause(); });
    front.addEventListener('seeked', syncRear);
  } else if (slider) {
    slider.addEventListener('input', update);
  }
  // Smooth movement while playing: timeupdate comes only every quarter second.
  function tick() { if (front && !front.paused) { update(); requestAnimationFrame(tick); } }

  document.querySelectorAll('[data-seek]').forEach(b => b.addEventListener('click', () => seek(Number(b.dataset.seek))));
  document.querySelectorAll('input[name=unit]').forEach(r => {
    r.checked = r.value === unit;
    r.addEventListener('change', () => {
      unit = r.value; localStorage.setItem('kv-unit', unit);
      charts.forEach(c => c.render()); showUnitInText(unit); update();
    });
  });
  showUnitInText(unit);
  if (mapBox && R.t.length) map = window.L ? leafletMap() : plainMap();
  if (mapBox && !window.L) mapBox.dataset.drawing = 'plain';
  charts.forEach(c => c.render());
  window.addEventListener('resize', () => { charts.forEach(c => c.render()); update(); });
  update();

  // For the page's own tests, and for anyone curious in the console.
  window.kvViewer = {
    state: () => ({ t: last.t, marker: map ? map.markerAt() : null,
      cursors: charts.map(c => ({ t: c.cursorT, x: c.xOf(c.cursorT) })) }),
    chartX: (index, t) => charts[index].xOf(t),
    mapPixel: (lat, lon) => map.pixelOf(lat, lon),
    seek,
  };
})();
