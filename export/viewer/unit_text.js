// SPDX-License-Identifier: MIT
// The unit switch's effect on the text of both pages (overview and recording). The build
// puts what follows the first blank line into each page's script, in place of the line
// that names this file, so every page still needs one script of its own.

  // Every speed and distance in the page's text follows the unit switch too.
  function showUnitInText(unit) {
    const mph = unit === 'mph';
    document.querySelectorAll('.spd').forEach(e => { e.textContent = (Number(e.dataset.kmh) / (mph ? 1.609344 : 1)).toFixed(0); });
    document.querySelectorAll('.su').forEach(e => { e.textContent = mph ? 'mph' : 'km/h'; });
    document.querySelectorAll('.dst').forEach(e => { e.textContent = (Number(e.dataset.km) / (mph ? 1.609344 : 1)).toFixed(1); });
    document.querySelectorAll('.du').forEach(e => { e.textContent = mph ? 'mi' : 'km'; });
  }
