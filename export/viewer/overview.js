// SPDX-License-Identifier: MIT
// The overview of a card: sorting the trips by a column, showing only some kinds of
// recording, and a map of all trips (Leaflet, or the routes drawn plainly without it).
// The table is in the page itself, so it is painted before this script runs.
'use strict';
(function () {
  const table = document.getElementById('trips');
  const body = document.body;

  // ---- sorting ------------------------------------------------------------------
  table.querySelectorAll('th[data-key]').forEach(th => th.addEventListener('click', () => {
    const key = th.dataset.key, dir = th.dataset.dir === 'asc' ? 'desc' : 'asc';
    table.querySelectorAll('th[data-key]').forEach(o => delete o.dataset.dir);
    th.dataset.dir = dir;
    const trips = Array.from(table.tBodies);
    trips.sort((a, b) => (Number(a.dataset[key]) - Number(b.dataset[key])) * (dir === 'asc' ? 1 : -1));
    trips.forEach(t => table.appendChild(t));
  }));

  // ---- filtering by kind ----------------------------------------------------------
  function applyFilter() {
    const shown = new Set();
    document.querySelectorAll('input[name=kind]').forEach(box => {
      body.classList.toggle('hide-' + box.value, !box.checked);
      if (box.checked) shown.add(box.value);
    });
    for (const trip of table.tBodies) trip.hidden = !Array.from(trip.dataset.kinds).some(k => shown.has(k));
  }
  document.querySelectorAll('input[name=kind]').forEach(box => box.addEventListener('change', applyFilter));
  applyFilter();


  // unit_text.js: showUnitInText(unit), put here when kv_export is built
  document.querySelectorAll('input[name=unit]').forEach(r => {
    r.checked = r.value === (localStorage.getItem('kv-unit') === 'mph' ? 'mph' : 'kmh');
    r.addEventListener('change', () => { localStorage.setItem('kv-unit', r.value); showUnitInText(r.value); });
  });
  if (localStorage.getItem('kv-unit') === 'mph') showUnitInText('mph');

  // ---- the map of all trips -------------------------------------------------------
  const box = document.getElementById('overview-map');
  const data = document.getElementById('kv-routes');
  if (!box || !data) return;
  const routes = JSON.parse(data.textContent);
  const tiles = box.dataset.tiles;
  const show = id => { location.hash = id; const row = document.getElementById(id); if (row) row.scrollIntoView(); };
  if (window.L) {
    const map = L.map(box, { preferCanvas: true });
    if (tiles) {
      L.tileLayer(tiles, { maxZoom: 19,
        attribution: '&copy; <a href="https://www.openstreetmap.org/copyright">OpenStreetMap</a> contributors' }).addTo(map);
    }
    const all = [];
    routes.forEach(r => {
      const pts = r.lat.map((lat, i) => [lat, r.lon[i]]);
      if (!pts.length) return;
      all.push(...pts);
      const line = pts.length > 1 ? L.polyline(pts, { color: r.event ? '#c0392b' : '#1565c0', weight: 3 })
                                  : L.circleMarker(pts[0], { radius: 4 });
      line.bindTooltip(r.label).on('click', () => show(r.id)).addTo(map);
    });
    if (all.length) map.fitBounds(L.latLngBounds(all), { padding: [20, 20], maxZoom: 16 });
    else map.setView([0, 0], 1);
    return;
  }
  box.dataset.drawing = 'plain';
  const canvas = document.createElement('canvas');
  canvas.className = 'plain';
  box.appendChild(canvas);
  let lat0 = Infinity, lat1 = -Infinity, lon0 = Infinity, lon1 = -Infinity;
  routes.forEach(r => r.lat.forEach((lat, i) => {
    lat0 = Math.min(lat0, lat); lat1 = Math.max(lat1, lat);
    lon0 = Math.min(lon0, r.lon[i]); lon1 = Math.max(lon1, r.lon[i]);
  }));
  if (!isFinite(lat0)) return;
  const w = box.clientWidth, h = box.clientHeight, dpr = window.devicePixelRatio || 1, pad = 16;
  const k = Math.cos((lat0 + lat1) / 2 * Math.PI / 180);
  const s = Math.min((w - 2 * pad) / Math.max((lon1 - lon0) * k, 1e-6), (h - 2 * pad) / Math.max(lat1 - lat0, 1e-6));
  canvas.width = w * dpr; canvas.height = h * dpr;
  const c = canvas.getContext('2d');
  c.scale(dpr, dpr);
  c.lineWidth = 2;
  routes.forEach(r => {
    c.strokeStyle = c.fillStyle = r.event ? '#c0392b' : '#1565c0';
    c.beginPath();
    r.lat.forEach((lat, i) => c[i ? 'lineTo' : 'moveTo'](pad + (r.lon[i] - lon0) * k * s, h - pad - (lat - lat0) * s));
    if (r.lat.length === 1) c.fillRect(pad + (r.lon[0] - lon0) * k * s - 2, h - pad - (r.lat[0] - lat0) * s - 2, 4, 4);
    c.stroke();
  });
})();
