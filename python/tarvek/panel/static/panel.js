// The panel's page: one websocket to the server, the output cards, a plot
// of the history drawn on a canvas (decimated to one min/max pair per pixel
// column), the list editor, the errors, the SCPI console and the I/O trace.
// No libraries: the page must work offline.
'use strict';

const COLOURS = ['#1f5fbf', '#c77700', '#1f7a3a'];
const UNITS = { v: 'V', i: 'A', p: 'W' };
const MAX_POINTS = 72000;      // an hour at 20 readings a second, per output
const MAX_LINES = 500;         // console, trace and error lines kept

const $ = (id) => document.getElementById(id);
const state = {
  socket: null, you: 0, control: false, channels: [], series: {}, latest: {},
  pending: new Map(), nextId: 1, identity: {},
  view: { window: 60, paused: false, pausedAt: 0, zoom: null, quantity: 'v' },
  dirty: true, forceTake: false,
};

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

function fixed(value, digits) {
  return typeof value === 'number' && isFinite(value) ? value.toFixed(digits) : '–';
}

function clock(seconds) {
  const d = new Date(seconds * 1000);
  return d.toLocaleTimeString([], { hour12: false }) + '.' +
    String(d.getMilliseconds()).padStart(3, '0');
}

function notice(text) {
  $('notice').textContent = text;
}

// -- The connection ---------------------------------------------------------

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const socket = new WebSocket(`${scheme}//${location.host}/ws`);
  state.socket = socket;
  socket.onmessage = (event) => receive(JSON.parse(event.data));
  socket.onclose = () => {
    setLink(false, 'panel server unreachable');
    setControl(false, 'disconnected');
    for (const callback of state.pending.values()) callback({ ok: false, error: 'disconnected' });
    state.pending.clear();
    setTimeout(connect, 1000);
  };
}

function request(op, args, extra) {
  return new Promise((resolve) => {
    const socket = state.socket;
    if (!socket || socket.readyState !== WebSocket.OPEN) {
      resolve({ ok: false, error: 'not connected' });
      return;
    }
    const id = state.nextId++;
    state.pending.set(id, resolve);
    socket.send(JSON.stringify(Object.assign({ id, op, args: args || {} }, extra || {})));
  });
}

async function command(op, args) {
  const result = await request(op, args);
  notice(result.ok ? '' : `${op}: ${result.error}`);
  return result;
}

const handlers = {
  hello(m) {
    state.you = m.you;
    setIdentity(m.identity, m.channels);
    setLink(m.connected, m.status);
    state.series = {};
    for (const name of m.channels) state.series[name] = { t: [], v: [], i: [], p: [] };
    for (const sample of m.history) addSample(sample);
    $('errors').replaceChildren();
    for (const entry of m.errors) addError(entry);
    showList(m.list);
    showTraceMode(m.trace);
  },
  identity(m) { setIdentity(m.identity, m.channels); },
  status(m) { setLink(m.connected, m.status); },
  sample(m) { addSample(m); showSample(m); },
  error(m) { addError(m); },
  list(m) { showList(m); },
  control(m) {
    const text = m.you_control ? 'you have control'
      : m.controller ? `${m.controller_name} has control` : 'nobody has control';
    setControl(!!m.you_control, `${text} · ${m.viewers} viewer${m.viewers === 1 ? '' : 's'}`);
    state.forceTake = false;
    $('take').textContent = 'Take control';
  },
  notice(m) { notice(m.text); },
  trace_mode(m) { showTraceMode(m); },
  trace(m) { addTrace(m); },
  result(m) {
    const callback = state.pending.get(m.id);
    state.pending.delete(m.id);
    if (callback) callback(m);
    else if (!m.ok) notice(m.error);
  },
};

function receive(message) {
  const handler = handlers[message.type];
  if (handler) handler(message);
}

function setLink(connected, text) {
  const link = $('link');
  link.textContent = connected ? 'instrument connected' : text;
  link.title = text;
  link.className = 'badge ' + (connected ? 'good' : 'bad');
}

function setControl(mine, text) {
  state.control = mine;
  document.body.classList.toggle('readonly', !mine);
  const lock = $('lock');
  lock.textContent = text;
  lock.className = 'badge' + (mine ? ' mine' : '');
  for (const node of document.querySelectorAll('[data-control]')) node.disabled = !mine;
  $('take').hidden = mine;
  $('release').hidden = !mine;
}

function setIdentity(identity, channels) {
  state.identity = identity;
  const parts = [identity.manufacturer, identity.model, identity.firmware && `fw ${identity.firmware}`,
    identity.resource, identity.simulated ? '(simulated)' : ''].filter(Boolean);
  $('identity').textContent = parts.join(' · ');
  if (JSON.stringify(channels) !== JSON.stringify(state.channels)) {
    state.channels = channels;
    $('legend').replaceChildren();
    buildCards();
  }
  for (const name of channels) {
    if (!state.series[name]) state.series[name] = { t: [], v: [], i: [], p: [] };
  }
}

// -- Output cards ----------------------------------------------------------

const SETTINGS = [
  ['voltage', 'Voltage', 'V', 'set_v'],
  ['current', 'Current limit', 'A', 'set_i'],
  ['ovp_level', 'OVP level', 'V', 'ovp_level'],
  ['ocp_level', 'OCP level', 'A', 'ocp_level'],
];

function buildCards() {
  const outputs = $('outputs');
  outputs.replaceChildren();
  const select = $('list-channel');
  select.replaceChildren();
  state.channels.forEach((name, index) => {
    select.append(el('option', { value: name, text: name }));
    const card = el('div', { class: 'card', id: `card-${name}` });
    card.style.setProperty('--colour', COLOURS[index % COLOURS.length]);
    card.append(el('h2', {}, name, el('span', { class: 'state', id: `${name}-state`, text: '–' })));
    card.append(el('div', { class: 'readings' },
      el('span', {}, el('b', { id: `${name}-v`, text: '–' }), el('small', { text: ' V' })),
      el('span', {}, el('b', { id: `${name}-i`, text: '–' }), el('small', { text: ' A' })),
      el('span', {}, el('b', { id: `${name}-p`, text: '–' }), el('small', { text: ' W' }))));
    const grid = el('div', { class: 'settings' });
    for (const [key, label, unit, field] of SETTINGS) {
      const input = el('input', { type: 'number', step: 'any', min: '0', id: `${name}-${key}`,
        'data-control': '', 'aria-label': `${name} ${label}` });
      input.addEventListener('keydown', (event) => { if (event.key === 'Enter') apply(name); });
      grid.append(el('label', { for: input.id, text: label }), input,
        el('span', { class: 'now', id: `${name}-${field}-now`, text: unit }));
    }
    const ocp = el('input', { type: 'checkbox', id: `${name}-ocp_enabled`, 'data-control': '' });
    ocp.addEventListener('change', () => command('set', { channel: name, ocp_enabled: ocp.checked }));
    grid.append(el('label', { for: ocp.id, text: 'OCP on' }), ocp, el('span'));
    card.append(grid);
    const applyButton = el('button', { id: `${name}-apply`, 'data-control': '', text: 'Apply' });
    applyButton.addEventListener('click', () => apply(name));
    const output = el('button', { id: `${name}-output`, 'data-control': '', text: 'Output on' });
    output.addEventListener('click', () => {
      const on = state.latest[name] && state.latest[name].output;
      command('set', { channel: name, output: !on });
    });
    const clear = el('button', { id: `${name}-clear`, 'data-control': '', text: 'Clear protection' });
    clear.addEventListener('click', () => command('clear_protection', { channel: name }));
    card.append(el('div', { class: 'buttons' }, applyButton, output, clear));
    card.append(el('div', { class: 'protection', id: `${name}-protection`, text: '' }));
    outputs.append(card);
  });
  setControl(state.control, $('lock').textContent);
}

function apply(name) {
  const args = { channel: name };
  for (const [key] of SETTINGS) {
    const input = $(`${name}-${key}`);
    if (input.value !== '') args[key] = Number(input.value);
  }
  if (Object.keys(args).length === 1) return;
  command('set', args).then((result) => {
    if (result.ok) for (const [key] of SETTINGS) $(`${name}-${key}`).value = '';
  });
}

function showSample(sample) {
  for (const out of sample.outputs) {
    state.latest[out.name] = out;
    if (!$(`card-${out.name}`)) continue;
    $(`${out.name}-v`).textContent = fixed(out.v, 3);
    $(`${out.name}-i`).textContent = fixed(out.i, 4);
    $(`${out.name}-p`).textContent = fixed(out.p, 3);
    const badge = $(`${out.name}-state`);
    badge.textContent = out.state;
    badge.className = `state ${out.state}`;
    for (const [, , unit, field] of SETTINGS) {
      $(`${out.name}-${field}-now`).textContent = `${fixed(out[field], 3)} ${unit}`;
    }
    const ocp = $(`${out.name}-ocp_enabled`);
    if (document.activeElement !== ocp) ocp.checked = !!out.ocp_enabled;
    $(`${out.name}-output`).textContent = out.output ? 'Output off' : 'Output on';
    const protection = $(`${out.name}-protection`);
    const trips = [out.ocp_tripped && 'OCP TRIPPED', out.ovp_tripped && 'OVP TRIPPED'].filter(Boolean);
    protection.textContent = trips.length ? trips.join(' · ') : 'protection clear';
    protection.className = 'protection' + (trips.length ? ' tripped' : '');
  }
}

// -- History and plot ----------------------------------------------------------

function addSample(sample) {
  for (const out of sample.outputs) {
    const series = state.series[out.name] || (state.series[out.name] = { t: [], v: [], i: [], p: [] });
    series.t.push(sample.t);
    series.v.push(out.v);
    series.i.push(out.i);
    series.p.push(out.p);
    if (series.t.length > MAX_POINTS) {
      const drop = Math.floor(MAX_POINTS / 10);
      for (const key of ['t', 'v', 'i', 'p']) series[key].splice(0, drop);
    }
  }
  state.dirty = true;
}

function latestTime() {
  let t = 0;
  for (const series of Object.values(state.series)) {
    if (series.t.length) t = Math.max(t, series.t[series.t.length - 1]);
  }
  return t || Date.now() / 1000;
}

function visibleRange() {
  const view = state.view;
  if (view.zoom) return view.zoom;
  const end = view.paused ? view.pausedAt : latestTime();
  return [end - view.window, end];
}

function lowerBound(array, value) {
  let low = 0, high = array.length;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (array[mid] < value) low = mid + 1; else high = mid;
  }
  return low;
}

// One column per pixel: the first, lowest, highest and last value of the
// readings that fall in it, so that a spike survives decimation.
function decimate(series, key, t0, t1, width) {
  const start = Math.max(0, lowerBound(series.t, t0) - 1);
  const end = Math.min(series.t.length, lowerBound(series.t, t1) + 1);
  const columns = [];
  let current = null;
  for (let n = start; n < end; n++) {
    const x = Math.floor((series.t[n] - t0) / (t1 - t0) * width);
    const y = series[key][n];
    if (typeof y !== 'number') continue;  // a reading the instrument could not give
    if (!current || current.x !== x) {
      current = { x, first: y, min: y, max: y, last: y };
      columns.push(current);
    } else {
      current.min = Math.min(current.min, y);
      current.max = Math.max(current.max, y);
      current.last = y;
    }
  }
  return columns;
}

function draw() {
  requestAnimationFrame(draw);
  if (!state.dirty) return;
  state.dirty = false;
  const canvas = $('plot');
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(100, Math.floor(canvas.clientWidth * ratio));
  const height = Math.max(60, Math.floor(canvas.clientHeight * ratio));
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, width, height);
  const [t0, t1] = visibleRange();
  const key = state.view.quantity;
  const left = 60 * ratio, bottom = 20 * ratio, top = 8 * ratio;
  const plotWidth = width - left - 8 * ratio, plotHeight = height - bottom - top;
  const decimated = state.channels.map((name) =>
    state.series[name] ? decimate(state.series[name], key, t0, t1, plotWidth) : []);
  let low = Infinity, high = -Infinity;
  for (const columns of decimated) {
    for (const c of columns) { low = Math.min(low, c.min); high = Math.max(high, c.max); }
  }
  if (!isFinite(low)) { low = 0; high = 1; }
  if (high - low < 1e-6) { high += 0.5; low -= 0.5; }
  const pad = (high - low) * 0.08;
  low -= pad; high += pad;
  const yOf = (y) => top + (1 - (y - low) / (high - low)) * plotHeight;
  g.font = `${11 * ratio}px monospace`;
  g.fillStyle = '#667';
  g.strokeStyle = '#e3e6ec';
  g.lineWidth = 1;
  for (let n = 0; n <= 4; n++) {
    const y = low + (high - low) * n / 4;
    g.beginPath(); g.moveTo(left, yOf(y)); g.lineTo(width, yOf(y)); g.stroke();
    g.fillText(`${y.toPrecision(4)} ${UNITS[key]}`, 2, yOf(y) + 4 * ratio);
  }
  for (let n = 0; n <= 4; n++) {
    const t = t0 + (t1 - t0) * n / 4;
    g.fillText(clock(t).slice(0, 8), left + plotWidth * n / 4 - 24 * ratio, height - 4 * ratio);
  }
  decimated.forEach((columns, index) => {
    const name = state.channels[index];
    const colour = COLOURS[index % COLOURS.length];
    g.strokeStyle = colour;
    g.lineWidth = 1.5 * ratio;
    g.beginPath();
    columns.forEach((c, n) => {
      const x = left + c.x;
      if (n === 0) g.moveTo(x, yOf(c.first)); else g.lineTo(x, yOf(c.first));
      g.lineTo(x, yOf(c.min)); g.lineTo(x, yOf(c.max)); g.lineTo(x, yOf(c.last));
    });
    g.stroke();
    const last = columns.length ? columns[columns.length - 1].last : NaN;
    let entry = $(`legend-${name}`);
    if (!entry) {
      entry = el('span', { id: `legend-${name}` });
      entry.style.setProperty('--colour', colour);
      $('legend').append(entry);
    }
    entry.textContent = `${name} ${fixed(last, 3)} ${UNITS[key]}`;
    entry.dataset.last = String(last);
    entry.dataset.points = String(columns.length);
  });
}

function setupPlot() {
  const canvas = $('plot');
  $('quantity').addEventListener('change', (e) => { state.view.quantity = e.target.value; state.dirty = true; });
  $('window').addEventListener('change', (e) => {
    state.view.window = Number(e.target.value);
    state.view.zoom = null;
    state.dirty = true;
  });
  $('pause').addEventListener('click', () => {
    state.view.paused = !state.view.paused;
    state.view.pausedAt = latestTime();
    $('pause').textContent = state.view.paused ? 'Resume' : 'Pause';
    state.dirty = true;
  });
  $('zoom-reset').addEventListener('click', () => { state.view.zoom = null; state.dirty = true; });
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    const [t0, t1] = visibleRange();
    const rect = canvas.getBoundingClientRect();
    const at = t0 + (t1 - t0) * Math.min(1, Math.max(0, (event.clientX - rect.left - 60) / (rect.width - 68)));
    const factor = event.deltaY < 0 ? 0.8 : 1.25;
    const span = Math.max(0.5, (t1 - t0) * factor);
    state.view.zoom = [at - (at - t0) * span / (t1 - t0), at + (t1 - at) * span / (t1 - t0)];
    state.dirty = true;
  }, { passive: false });
  let drag = null;
  canvas.addEventListener('mousedown', (event) => { drag = { x: event.clientX, range: visibleRange() }; });
  window.addEventListener('mouseup', () => { drag = null; });
  canvas.addEventListener('mousemove', (event) => {
    if (!drag) return;
    const [t0, t1] = drag.range;
    const shift = (event.clientX - drag.x) / canvas.getBoundingClientRect().width * (t1 - t0);
    state.view.zoom = [t0 - shift, t1 - shift];
    state.dirty = true;
  });
  requestAnimationFrame(draw);
}

// -- List mode -----------------------------------------------------------------

function addStep(voltage, current, dwell) {
  const body = $('steps').tBodies[0];
  const row = el('tr');
  const cell = (value, name) => {
    const input = el('input', { type: 'number', step: 'any', min: '0', value: String(value),
      'data-control': '', 'aria-label': name, class: name });
    input.disabled = !state.control;
    return el('td', {}, input);
  };
  const remove = el('button', { 'data-control': '', text: '✕', title: 'remove step' });
  remove.disabled = !state.control;
  remove.addEventListener('click', () => { row.remove(); numberSteps(); });
  row.append(el('td', { class: 'number' }), cell(voltage, 'voltage'), cell(current, 'current'),
    cell(dwell, 'dwell'), el('td', {}, remove));
  body.append(row);
  numberSteps();
}

function numberSteps() {
  [...$('steps').tBodies[0].rows].forEach((row, n) => { row.cells[0].textContent = n + 1; });
}

function listSteps() {
  return [...$('steps').tBodies[0].rows].map((row) => ({
    voltage: Number(row.querySelector('.voltage').value),
    current: Number(row.querySelector('.current').value),
    dwell: Number(row.querySelector('.dwell').value),
  }));
}

function showList(run) {
  const status = $('list-status');
  const progress = $('list-progress');
  if (!run) { status.textContent = 'idle'; progress.value = 0; return; }
  progress.max = Math.max(run.total, 0.001);
  progress.value = run.state === 'running' ? Math.min(run.elapsed, run.total) : run.total;
  status.textContent = `${run.state} on ${run.channel}: step ${run.step}/${run.steps}, pass ` +
    `${run.pass}/${run.repeat}${run.message ? ' — ' + run.message : ''}`;
  status.dataset.state = run.state;
}

function setupList() {
  addStep(1, 0.5, 0.3);
  addStep(2, 0.5, 0.3);
  addStep(3, 0.5, 0.3);
  $('list-add').addEventListener('click', () => addStep(0, 0.5, 1));
  $('list-run').addEventListener('click', () => command('list_run', {
    channel: $('list-channel').value, steps: listSteps(), repeat: Number($('list-repeat').value),
  }));
  $('list-abort').addEventListener('click', () => command('list_abort', {}));
}

// -- Errors, console and trace -----------------------------------------------

function trim(container) {
  while (container.childNodes.length > MAX_LINES) container.firstChild.remove();
}

function addError(entry) {
  const list = $('errors');
  const code = entry.source === 'instrument' ? `${entry.code}, ` : '';
  list.append(el('li', { class: entry.source, text: `${clock(entry.time)}  ${entry.source}: ${code}${entry.message}` }));
  trim(list);
  list.scrollTop = list.scrollHeight;
}

function consoleLine(text, kind) {
  const log = $('console-log');
  log.append(el('div', { class: kind, text }));
  trim(log);
  log.scrollTop = log.scrollHeight;
}

function showTraceMode(info) {
  if (!info) return;
  const select = $('trace-mode');
  select.disabled = !info.available;
  select.value = info.mode;
  $('trace-state').textContent = info.available ? '' : 'trace unavailable';
}

function addTrace(message) {
  if ($('trace-pause').checked) return;
  const trace = $('trace');
  const arrows = { write: '→', read: '←', event: '•' };
  for (const e of message.entries) {
    const status = e.status ? ` [0x${(e.status >>> 0).toString(16).toUpperCase()}]` : '';
    trace.append(el('div', { class: e.dir === 'read' ? 'in' : 'out',
      text: `${clock(e.t)} ${arrows[e.dir] || '?'} ${e.call} ${e.data}${status}` }));
  }
  if (message.dropped) trace.append(el('div', { class: 'err', text: `… ${message.dropped} entries skipped` }));
  trim(trace);
  trace.scrollTop = trace.scrollHeight;
}

function setupConsole() {
  $('console-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const input = $('console-input');
    const text = input.value.trim();
    if (!text) return;
    input.value = '';
    consoleLine(`> ${text}`, 'out');
    const result = await request('scpi', { command: text });
    if (!result.ok) consoleLine(`! ${result.error}`, 'err');
    else if (typeof result.value === 'string') consoleLine(`< ${result.value}`, 'in');
  });
  $('trace-mode').addEventListener('change', (e) => command('trace', { mode: e.target.value }));
  $('trace-clear').addEventListener('click', () => $('trace').replaceChildren());
}

function setupControl() {
  $('take').addEventListener('click', async () => {
    const result = await request('take_control', {}, { force: state.forceTake });
    if (!result.ok) {
      notice(`${result.error}; click again to take over`);
      state.forceTake = true;
      $('take').textContent = 'Take over';
    } else {
      notice('');
    }
  });
  $('release').addEventListener('click', () => request('release_control', {}));
}

window.addEventListener('DOMContentLoaded', () => {
  setupPlot();
  setupList();
  setupConsole();
  setupControl();
  setControl(false, 'nobody has control');
  connect();
});

// For scripts and tests: what the plot shows now.
window.tarvekPanel = {
  series: () => state.series,
  range: visibleRange,
  control: () => state.control,
};
