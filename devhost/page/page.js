// The host's own parts of the vyn-devhost page. The function list and the call
// forms are the kept OpenAPI renderer's; written here are only the glue for
// MessagePack bodies, the events panel and the roster panel.
'use strict';

const kRosterPath = '/devhost/roster';
const kMaxEvents = 200;

// --- Calls: the renderer, with MessagePack bodies encoded from typed JSON ---

function headerValue(headers, name) {
  for (const key of Object.keys(headers || {})) {
    if (key.toLowerCase() === name) return String(headers[key]);
  }
  return '';
}

// A body typed as JSON under a MessagePack content type goes out as the
// MessagePack encoding of that value. A body that is not JSON goes as typed,
// so the plugin answers what is wrong with it.
function encodeMessagePack(request) {
  const type = headerValue(request.headers, 'content-type');
  if (type.startsWith('application/x-msgpack') && typeof request.body === 'string') {
    try {
      request.body = MessagePack.encode(JSON.parse(request.body));
    } catch (error) {
      console.warn('MessagePack body left as typed:', error.message);
    }
  }
  return request;
}

window.ui = SwaggerUIBundle({
  url: '/openapi.json',
  dom_id: '#api',
  validatorUrl: null,  // the public validator would be a request off this machine
  tryItOutEnabled: true,
  displayRequestDuration: true,
  defaultModelsExpandDepth: 0,
  requestInterceptor: encodeMessagePack,
});

// --- Events panel: every frame of /events, newest first ---

function setEventsState(text) {
  const state = document.getElementById('events-state');
  state.textContent = text;
  state.className = 'state ' + text;
}

function addEvent(name, data) {
  let payload = data;
  try {
    payload = JSON.stringify(JSON.parse(data), null, 2);
  } catch (error) {
    // Shown as it came.
  }
  const item = document.createElement('li');
  item.className = 'event';
  const title = document.createElement('span');
  title.className = 'event-name';
  title.textContent = name;
  const time = document.createElement('span');
  time.className = 'event-time';
  time.textContent = new Date().toLocaleTimeString();
  const body = document.createElement('pre');
  body.className = 'event-payload';
  body.textContent = payload;
  item.append(title, time, body);
  const list = document.getElementById('events-list');
  list.prepend(item);
  while (list.children.length > kMaxEvents) list.lastChild.remove();
}

// One Server-Sent Events frame: its "event" and "data" fields.
function onFrame(frame) {
  let name = 'message';
  const data = [];
  for (const line of frame.split('\n')) {
    if (line === '' || line.startsWith(':')) continue;
    const colon = line.indexOf(':');
    const field = colon < 0 ? line : line.slice(0, colon);
    let value = colon < 0 ? '' : line.slice(colon + 1);
    if (value.startsWith(' ')) value = value.slice(1);
    if (field === 'event') name = value;
    if (field === 'data') data.push(value);
  }
  if (data.length > 0) addEvent(name, data.join('\n'));
}

// Read with fetch rather than EventSource: EventSource hands a named event
// only to a listener of that name, and the panel shows every name.
async function followEvents() {
  for (;;) {
    try {
      const response = await fetch('/events', {cache: 'no-store'});
      if (!response.ok) throw new Error('status ' + response.status);
      setEventsState('open');
      const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
      let buffer = '';
      for (;;) {
        const {value, done} = await reader.read();
        if (done) break;
        buffer += value.replace(/\r\n?/g, '\n');
        for (let end = buffer.indexOf('\n\n'); end >= 0; end = buffer.indexOf('\n\n')) {
          onFrame(buffer.slice(0, end));
          buffer = buffer.slice(end + 2);
        }
      }
    } catch (error) {
      console.warn('event stream:', error.message);
    }
    setEventsState('closed');
    await new Promise((resolve) => setTimeout(resolve, 1000));
  }
}

document.getElementById('events-clear').addEventListener('click', () => {
  document.getElementById('events-list').replaceChildren();
});

// --- Roster panel: GET and PUT /devhost/roster ---

let roster = {players: []};

function showRosterStatus(text, failed) {
  const status = document.getElementById('roster-status');
  status.textContent = text;
  status.className = failed ? 'error' : '';
}

function renderRoster() {
  const rows = roster.players.map((player, index) => {
    const row = document.createElement('tr');
    const name = document.createElement('td');
    name.textContent = player.name;
    const inGame = document.createElement('input');
    inGame.type = 'checkbox';
    inGame.checked = Boolean(player.inGame);
    inGame.dataset.player = player.name;
    inGame.setAttribute('aria-label', player.name + ' is in a game');
    inGame.addEventListener('change', () => { roster.players[index].inGame = inGame.checked; });
    const remove = document.createElement('button');
    remove.type = 'button';
    remove.textContent = '\u00d7';
    remove.title = 'remove ' + player.name;
    remove.addEventListener('click', () => {
      roster.players.splice(index, 1);
      renderRoster();
    });
    const checkCell = document.createElement('td');
    checkCell.append(inGame);
    const removeCell = document.createElement('td');
    removeCell.append(remove);
    row.append(name, checkCell, removeCell);
    return row;
  });
  document.querySelector('#roster-table tbody').replaceChildren(...rows);
  document.getElementById('roster-gameflow').value = roster.gameflow ? roster.gameflow.error : '';
  document.getElementById('roster-server').value = roster.server ? roster.server.error : '';
}

// The peer failure typed in `inputId`, keeping the status it had; none when empty.
function peerFailure(inputId, previous) {
  const error = document.getElementById(inputId).value.trim();
  if (error === '') return undefined;
  return {error: error, status: previous ? previous.status : 500};
}

async function rosterRequest(options) {
  try {
    const response = await fetch(kRosterPath, options);
    const answer = await response.json();
    if (!response.ok) {
      showRosterStatus(response.status + ': ' + answer.message, true);
      return;
    }
    roster = answer;
    renderRoster();
    const inGame = roster.players.filter((player) => player.inGame).length;
    showRosterStatus((options ? 'Applied: ' : '') + roster.players.length + ' players, ' +
                     inGame + ' in a game', false);
  } catch (error) {
    showRosterStatus(error.message, true);
  }
}

function applyRoster() {
  const next = {players: roster.players};
  const gameflow = peerFailure('roster-gameflow', roster.gameflow);
  const server = peerFailure('roster-server', roster.server);
  if (gameflow) next.gameflow = gameflow;
  if (server) next.server = server;
  return rosterRequest({
    method: 'PUT',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify(next),
  });
}

document.getElementById('roster-add').addEventListener('submit', (event) => {
  event.preventDefault();
  const input = document.getElementById('roster-new-name');
  const name = input.value.trim();
  if (name === '') return;
  roster.players.push({name: name, inGame: true});
  input.value = '';
  renderRoster();
});
document.getElementById('roster-apply').addEventListener('click', applyRoster);
document.getElementById('roster-reload').addEventListener('click', () => rosterRequest());

rosterRequest();
followEvents();
