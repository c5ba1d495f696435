// The host's own parts of the vyn-devhost page. The function list and the call
// forms are the kept OpenAPI renderer's; written here are only the glue for
// MessagePack bodies, the events panel and the roster panel (inspector.js
// follows the host's stream and feeds the events panel).
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

// The document tags each plugin operation twice (all plugins, and this
// plugin): the page lists each under its last, most specific tag only.
function listOperationsOnce(response) {
  if (!response.url || !response.url.endsWith('/openapi.json') || !response.ok) return response;
  try {
    const document = JSON.parse(response.text);
    for (const item of Object.values(document.paths || {})) {
      for (const operation of Object.values(item)) {
        if (Array.isArray(operation.tags) && operation.tags.length > 1) {
          operation.tags = operation.tags.slice(-1);
        }
      }
    }
    response.text = JSON.stringify(document);
    response.body = document;
    response.obj = document;
  } catch (error) {
    console.warn('operations left as listed:', error.message);
  }
  return response;
}

window.ui = SwaggerUIBundle({
  url: '/openapi.json',
  dom_id: '#api',
  validatorUrl: null,  // the public validator would be a request off this machine
  tryItOutEnabled: true,
  displayRequestDuration: true,
  defaultModelsExpandDepth: 0,
  requestInterceptor: encodeMessagePack,
  responseInterceptor: listOperationsOnce,
});

// --- Events panel: every event the plugin publishes, newest first ---

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
