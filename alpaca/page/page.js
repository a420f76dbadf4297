// The camera page: polls the server's status (at most once a second), draws
// the cooler's last hour and the last frame, and sends the controls. Every
// check of a value is the server's: a refusal shows its message.
'use strict';
(() => {
  const SVG = 'http://www.w3.org/2000/svg';
  const $ = (id) => document.getElementById(id);
  const fixed = (value, decimals, unit = '') =>
    value === null || value === undefined ? '–' : Number(value).toFixed(decimals) + unit;
  let status = null;
  let shownImage = null;
  let coolingFetched = 0;

  async function getJson(url) {
    const response = await fetch(url, { cache: 'no-store' });
    const body = await response.json().catch(() => null);
    if (!response.ok) throw new Error((body && body.message) || `${url}: ${response.status}`);
    return body;
  }

  function svgElement(name, attributes, parent) {
    const element = document.createElementNS(SVG, name);
    for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
    if (parent) parent.appendChild(element);
    return element;
  }

  function showStatus(s) {
    $('connected').textContent = s.connected ? 'connected' : s.cooling.warmingUp ? 'not connected (kept while it warms up)' : 'not connected';
    $('connect').textContent = s.connected ? 'Disconnect' : 'Connect';
    const c = s.camera;
    $('identity').textContent = c ? `${c.vendor} ${c.product} ${c.revision}`.trim() + (s.simulated ? ' (simulated)' : '') : '–';
    $('address').textContent = c ? `adapter ${c.adapter}, target ${c.target}` : '–';
    $('state').textContent = s.connected ? s.state : '–';
    $('progress').value = s.percent ?? 0;
    $('percent').textContent = s.percent === null ? '' : `${s.percent} %`;
    $('last-start').textContent = s.lastStart || '–';
    $('last-error').hidden = !s.lastError;
    $('last-error').textContent = s.lastError;
    const k = s.cooling;
    $('temperature').textContent = fixed(k.temperature, 1, ' °C');
    $('setpoint').textContent = fixed(k.setpoint, 1, ' °C');
    $('cooler').textContent = k.warmingUp ? 'warming up' : k.coolerOn ? 'on' : 'off';
    $('power').textContent = fixed(k.power, 0, ' %');
    $('limit').hidden = k.limit === null;
    $('limit').textContent = k.limit === null ? '' : `cannot reach ${fixed(k.setpoint, 1)} °C: the sensor levels off near ${fixed(k.limit, 1)} °C`;
    $('version').textContent = `tarnscsi-alpaca ${s.version}`;
    // The forms start from the camera's own settings, once.
    if (s.frame && $('expose-width').value === '') {
      $('expose-bin').value = String(s.frame.bin);
      $('expose-x').value = s.frame.startX;
      $('expose-y').value = s.frame.startY;
      $('expose-width').value = s.frame.numX;
      $('expose-height').value = s.frame.numY;
    }
    if (k.setpoint !== null && $('cooler-setpoint').value === '') $('cooler-setpoint').value = k.setpoint;
  }

  function drawCooling(history, limit) {
    const plot = $('cooling-plot');
    plot.replaceChildren();
    const [left, right, top, bottom] = [52, 540, 12, 222];
    const points = history.points;
    const values = points.flatMap((p) => (p[3] === null ? [p[1]] : [p[1], p[3]]));
    if (limit !== null) values.push(limit);
    let low = values.length ? Math.floor(Math.min(...values) / 5) * 5 - 5 : -20;
    let high = values.length ? Math.ceil(Math.max(...values) / 5) * 5 + 5 : 30;
    const x = (t) => right + (t / history.span) * (right - left);
    const y = (c) => bottom - ((c - low) / (high - low)) * (bottom - top);
    const yPower = (p) => bottom - (p / 100) * (bottom - top);
    const step = Math.max(5, Math.ceil((high - low) / 6 / 5) * 5);
    for (let c = low; c <= high; c += step) {
      svgElement('line', { class: 'grid', x1: left, x2: right, y1: y(c), y2: y(c) }, plot);
      svgElement('text', { x: left - 6, y: y(c) + 4, 'text-anchor': 'end' }, plot).textContent = `${c}°`;
    }
    for (let minutes = 60; minutes >= 0; minutes -= 15) {
      const at = x(-minutes * 60);
      svgElement('line', { class: 'grid', x1: at, x2: at, y1: top, y2: bottom }, plot);
      svgElement('text', { x: at, y: bottom + 26, 'text-anchor': 'middle' }, plot).textContent = minutes ? `-${minutes} min` : 'now';
    }
    svgElement('text', { x: right + 5, y: top + 8 }, plot).textContent = '100%';
    svgElement('text', { x: right + 5, y: bottom }, plot).textContent = '0%';
    const line = (cls, pick, scale) => {
      let path = '';
      let pen = 'M';
      for (const p of points) {
        if (pick(p) === null) { pen = 'M'; continue; }
        path += `${pen}${x(p[0]).toFixed(1)},${scale(pick(p)).toFixed(1)}`;
        pen = 'L';
      }
      if (path) svgElement('path', { class: cls, d: path }, plot);
    };
    line('power', (p) => p[2], yPower);
    line('temperature', (p) => p[1], y);
    line('setpoint', (p) => p[3], y);
    const latest = points[points.length - 1];
    if (latest) svgElement('circle', { class: 'now', cx: x(latest[0]), cy: y(latest[1]), r: 3 }, plot);
    if (limit !== null) svgElement('line', { class: 'limit', x1: left, x2: right, y1: y(limit), y2: y(limit) }, plot);
    plot.dataset.points = String(points.length);
  }

  function drawHistogram(frame) {
    const plot = $('histogram');
    plot.replaceChildren();
    const counts = frame.histogram;
    const most = Math.log1p(Math.max(1, ...counts));
    const width = 256 / Math.max(1, counts.length);
    let path = '';
    counts.forEach((count, i) => {
      const h = (Math.log1p(count) / most) * 80;
      if (h > 0) path += `M${(i * width).toFixed(2)},80v${(-h).toFixed(2)}h${width.toFixed(2)}v${h.toFixed(2)}z`;
    });
    svgElement('path', { class: 'bars', d: path }, plot);
    plot.dataset.bins = String(counts.length);
    $('histogram-low').textContent = frame.minimum;
    $('histogram-high').textContent = frame.maximum;
  }

  async function showFrame(id) {
    if (id === null) {
      $('frame').hidden = true;
      $('no-frame').hidden = false;
      return;
    }
    // The frame the status names, with its preview and file: never a newer
    // one that came meanwhile.
    const frame = await getJson(`/page/frame?frame=${encodeURIComponent(id)}`);
    const preview = $('preview');
    await new Promise((done) => {
      preview.onload = preview.onerror = done;
      preview.src = `/page/frame.png?frame=${encodeURIComponent(frame.id)}`;
    });
    drawHistogram(frame);
    $('frame-minimum').textContent = frame.minimum;
    $('frame-median').textContent = frame.median;
    $('frame-maximum').textContent = frame.maximum;
    $('frame-saturated').textContent = frame.saturated;
    $('frame-type').textContent = frame.type;
    $('frame-exposure').textContent = fixed(frame.exposure, 3, ' s');
    $('frame-binning').textContent = `${frame.binning} x ${frame.binning}`;
    $('frame-window').textContent = `${frame.width} x ${frame.height} at (${frame.x}, ${frame.y})`;
    $('frame-temperature').textContent = fixed(frame.temperature, 1, ' °C');
    $('frame-start').textContent = frame.start;
    $('fits-link').href = `/page/frame.fits?frame=${encodeURIComponent(frame.id)}`;
    $('fits-link').download = frame.fitsName;
    $('frame').hidden = false;
    $('no-frame').hidden = true;
  }

  // One round: status, the frame when it changed, the cooling plot every
  // ten seconds (or when `all`).
  async function round(all) {
    try {
      status = await getJson('/page/status');
      showStatus(status);
      if (status.image !== shownImage) {
        await showFrame(status.image);
        shownImage = status.image;
      }
      if (all || Date.now() - coolingFetched > 10000) {
        coolingFetched = Date.now();
        drawCooling(await getJson('/page/cooling'), status.cooling.limit);
      }
      $('link').textContent = 'live';
      $('link').classList.remove('down');
    } catch (error) {
      $('link').textContent = 'no answer';
      $('link').classList.add('down');
    }
  }

  // Rounds run one after another, never two at once: the page's own poll,
  // a control's and a caller's each see the page as the one before left it.
  let rounds = Promise.resolve();
  function refresh(all = true) {
    const next = rounds.then(() => round(all));
    rounds = next;
    return next;
  }

  async function control(what, fields, done) {
    const response = await fetch(`/page/${what}`, { method: 'PUT', body: new URLSearchParams(fields) }).catch(() => null);
    const answer = response ? await response.json().catch(() => null) : null;
    const ok = Boolean(answer && answer.ok);
    // The page shows the new state before it tells the outcome.
    await refresh();
    $('message').textContent = ok ? done : answer ? answer.message : 'the server did not answer';
    $('message').className = ok ? '' : 'error';
    return ok;
  }

  function formFields(form) {
    return Object.fromEntries(new FormData(form).entries());
  }

  function wire() {
    const night = () => document.documentElement.classList.contains('night');
    const label = () => {
      $('theme').setAttribute('aria-pressed', String(night()));
      $('theme').textContent = night() ? 'Day' : 'Night';
    };
    label();
    $('theme').onclick = () => {
      document.documentElement.classList.toggle('night');
      localStorage.setItem('tarnscsi-theme', night() ? 'night' : 'day');
      label();
    };
    $('connect-form').onsubmit = (event) => {
      event.preventDefault();
      const connect = !(status && status.connected);
      control('connect', { Connected: connect }, connect ? 'Connected.' : 'Disconnected.');
    };
    $('cooler-form').onsubmit = (event) => {
      event.preventDefault();
      control('cooler', { Setpoint: $('cooler-setpoint').value, CoolerOn: true }, 'Cooling to the setpoint.');
    };
    $('cooler-off').onclick = () => control('cooler', { CoolerOn: false }, 'Warming up gently.');
    $('expose-form').onsubmit = (event) => {
      event.preventDefault();
      control('expose', formFields($('expose-form')), 'Exposure started.');
    };
    $('abort').onclick = () => control('abort', {}, 'Exposure aborted.');
    $('expose-type').onchange = () => {
      if ($('expose-type').value === 'bias') $('expose-duration').value = 0;
    };
    $('full-frame').onclick = () => {
      const bin = Number($('expose-bin').value);
      $('expose-x').value = 0;
      $('expose-y').value = 0;
      $('expose-width').value = Math.floor(status.sensor.width / bin);
      $('expose-height').value = Math.floor(status.sensor.height / bin);
    };
  }

  async function poll() {
    await refresh(false);
    setTimeout(poll, 1000);
  }

  wire();
  poll();
  // For tests and for the curious: one round at once.
  window.tarnscsiPage = { refresh };
})();
