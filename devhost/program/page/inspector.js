// The inspector of the vyn-devhost page: what happens inside the plugin, from
// the host's stream /devhost/inspector (calls, reloads of the plugin,
// outgoing requests and waits, log lines, published events) and its memory counters (/devhost/memory),
// drawn with the kept charting package.
'use strict';

const kStreamPath = '/devhost/inspector';
const kMaxRows = 300;          // rows each panel keeps
const kMemoryPoints = 120;     // samples the chart keeps
const kMemoryPeriodMs = 1000;
const kLogLevels = ['OKAY', 'WARN', 'ERROR', 'ALWAYS'];

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

function clock(ms) {
  const time = new Date(ms);
  return time.toLocaleTimeString([], {hour12: false}) + '.' +
         String(time.getMilliseconds()).padStart(3, '0');
}

function bytes(count) {
  return count === null || count === undefined ? '' : count.toLocaleString() + ' B';
}

function signed(count) {
  return (count > 0 ? '+' : '') + count.toLocaleString();
}

// Puts `item` first in `list`, keeping at most kMaxRows.
function prepend(list, item) {
  list.prepend(item);
  while (list.children.length > kMaxRows) list.lastChild.remove();
}

// --- Calls panel: one row per call into the plugin, newest first ---

async function openCall(number) {
  const title = document.getElementById('call-detail-title');
  const detail = document.getElementById('call-detail');
  for (const row of document.querySelectorAll('#calls-table tbody tr')) {
    row.classList.toggle('selected', row.dataset.call === String(number));
  }
  title.textContent = 'Call #' + number;
  try {
    const response = await fetch('/devhost/calls/' + number, {cache: 'no-store'});
    const call = await response.json();
    if (!response.ok) throw new Error(call.message);
    for (const part of [call.request, call.answer]) {
      try {
        part.body = JSON.parse(part.body);
      } catch (error) {
        // Not JSON: shown as text.
      }
    }
    detail.textContent = JSON.stringify(call, null, 2);
  } catch (error) {
    detail.textContent = error.message;
  }
  document.getElementById('call-detail-box').hidden = false;
}

function addCall(call) {
  const row = element('tr', 'call status-' + String(call.status)[0] + 'xx');
  row.dataset.call = call.number;
  const body = call.bodyBytes === null ? '' : (call.contentType || '?') + ' ' + bytes(call.bodyBytes);
  const cells = [
    ['number', '#' + call.number], ['method', call.method], ['path', call.path],
    ['status', call.status], ['duration', (call.durationUs / 1000).toFixed(2) + ' ms'],
    ['body', body], ['allocations', call.allocations.toLocaleString()],
    ['live', signed(call.liveBytes) + ' B'],
  ];
  for (const [name, text] of cells) row.append(element('td', name, String(text)));
  row.title = 'at ' + clock(call.time) + ' by ' + call.function + ' (load ' + call.load +
              '); click for the request and answer';
  row.addEventListener('click', () => openCall(call.number));
  prepend(document.querySelector('#calls-table tbody'), row);
}

// A reload of the plugin library (serve --watch), as a row between the calls
// before it and after it (each call's tooltip names the load that answered
// it); its tooltip gives the file's size and time before and after.
function fileText(file) {
  return file ? bytes(file.size) + ' of ' + clock(file.modified) : 'missing';
}

function addReload(reload) {
  const row = element('tr', 'reload ' + (reload.succeeded ? 'loaded' : 'failed'));
  const name = reload.path.split(/[\\/]/).pop();
  const what = reload.succeeded
    ? '\u21bb reloaded ' + name + ' (load ' + reload.load + ', ' + reload.durationMs + ' ms)'
    : '\u21bb ' + name + ' did not load: ' + reload.reason;
  const cell = element('td', 'reload-what', what);
  cell.colSpan = 8;
  row.append(cell);
  row.title = 'at ' + clock(reload.time) + ': ' + fileText(reload.old) + ' \u2192 ' +
              fileText(reload.new);
  prepend(document.querySelector('#calls-table tbody'), row);
}

// --- Outgoing panel: what the plugin sent to the peers, linked to its call ---

function callLink(number) {
  if (!number) return element('span', 'call-link none', 'no call');
  const link = element('a', 'call-link', '#' + number);
  link.href = '#call-' + number;
  link.addEventListener('click', (event) => {
    event.preventDefault();
    openCall(number);
  });
  return link;
}

function addOutgoing(record) {
  const item = element('li', 'outgoing ' + record.kind);
  const head = element('div', 'outgoing-head');
  let what;
  if (record.kind === 'request') {
    what = record.method + ' ' + record.name + ' \u2192 ' + (record.status || 'answered');
  } else if (record.kind === 'delivery') {
    what = '\u2190 ' + record.name;
  } else if (record.kind === 'beginWait') {
    what = 'wait begins: ' + record.name;
  } else {
    what = 'wait ends';
  }
  head.append(callLink(record.call), element('span', 'outgoing-what', what),
              element('span', 'time', clock(record.time)));
  item.append(head);
  if (record.payload !== undefined) {
    item.append(element('pre', 'payload', JSON.stringify(record.payload)));
  }
  if (record.answer !== undefined) {
    item.append(element('pre', 'payload answer', JSON.stringify(record.answer)));
  }
  prepend(document.getElementById('outgoing-list'), item);
}

// --- Log panel: the plugin's lines, filtered by level and text ---

function logLineShown(item) {
  const level = document.getElementById('log-level').value;
  const text = document.getElementById('log-filter').value.toLowerCase();
  const lineLevel = Number(item.dataset.level);
  if (level === 'errors' && lineLevel !== 2) return false;
  if (level === 'warnings' && lineLevel !== 1 && lineLevel !== 2) return false;
  return text === '' || item.textContent.toLowerCase().includes(text);
}

function filterLog() {
  for (const item of document.getElementById('log-list').children) item.hidden = !logLineShown(item);
}

function addLogLine(line) {
  const name = kLogLevels[line.level] || String(line.level);
  const item = element('li', 'log-line level-' + name.toLowerCase());
  item.dataset.level = line.level;
  item.append(element('span', 'time', clock(line.time)), element('span', 'log-level', name),
              callLink(line.call), element('span', 'log-text', line.text));
  item.hidden = !logLineShown(item);
  prepend(document.getElementById('log-list'), item);
}

document.getElementById('log-level').addEventListener('change', filterLog);
document.getElementById('log-filter').addEventListener('input', filterLog);

// --- The stream: every kind of message, resumed after the last one seen ---

function clearPanels() {
  for (const id of ['outgoing-list', 'log-list', 'events-list']) {
    document.getElementById(id).replaceChildren();
  }
  document.querySelector('#calls-table tbody').replaceChildren();
}

// EventSource resumes after the last message by itself when the connection
// drops; a stream opened anew (after a refusal) starts with what the host
// keeps, so the panels start over.
function followInspector() {
  const stream = new EventSource(kStreamPath);
  const handlers = {
    call: addCall,
    outgoing: addOutgoing,
    log: addLogLine,
    published: (event) => addEvent(event.name, JSON.stringify(event.payload)),
    reload: addReload,
  };
  for (const [kind, handler] of Object.entries(handlers)) {
    stream.addEventListener(kind, (message) => {
      try {
        handler(JSON.parse(message.data));
      } catch (error) {
        console.warn(kind + ' message:', error.message);
      }
    });
  }
  stream.onopen = () => setEventsState('open');
  stream.onerror = () => {
    setEventsState('closed');
    if (stream.readyState === EventSource.CLOSED) {
      setTimeout(() => {
        clearPanels();
        followInspector();
      }, 1000);
    }
  };
}

// --- Memory panel: live bytes and allocations over time, with the peak ---

const memory = {times: [], bytes: [], allocations: [], chart: null};

function drawMemory() {
  const box = document.getElementById('memory-chart');
  const data = [memory.times, memory.bytes, memory.allocations];
  if (memory.chart) {
    memory.chart.setData(data);
    return;
  }
  memory.chart = new uPlot({
    width: Math.max(200, box.clientWidth),
    height: 120,
    scales: {x: {time: true}},
    legend: {live: false},
    series: [
      {},
      {label: 'live bytes', stroke: '#4990e2', fill: 'rgba(73, 144, 226, 0.15)', width: 2,
       scale: 'bytes'},
      {label: 'live allocations', stroke: '#e2784a', width: 2, scale: 'count'},
    ],
    axes: [{}, {scale: 'bytes', size: 60}, {scale: 'count', side: 1, grid: {show: false}}],
  }, data, box);
}

async function sampleMemory() {
  try {
    const response = await fetch('/devhost/memory', {cache: 'no-store'});
    if (!response.ok) throw new Error('status ' + response.status);
    const stats = await response.json();
    memory.times.push(Date.now() / 1000);
    memory.bytes.push(stats.liveBytes);
    memory.allocations.push(stats.liveAllocations);
    if (memory.times.length > kMemoryPoints) {
      for (const series of [memory.times, memory.bytes, memory.allocations]) series.shift();
    }
    document.getElementById('memory-peak').textContent =
        'now ' + bytes(stats.liveBytes) + ' in ' + stats.liveAllocations.toLocaleString() +
        ' allocations; peak ' + bytes(stats.peakLiveBytes) + ', ' +
        stats.peakLiveAllocations.toLocaleString() + ' allocations';
    drawMemory();
  } catch (error) {
    document.getElementById('memory-peak').textContent = 'memory: ' + error.message;
  }
  setTimeout(sampleMemory, kMemoryPeriodMs);
}

followInspector();
sampleMemory();
