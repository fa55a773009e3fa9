// Requests to the runner. The session token arrives in the address's
// fragment, which the browser never sends; from then on it travels in a
// header, and the address bar loses it.

const TOKEN_HEADER = 'X-Quillmere-Token';
const TOKEN_KEY = 'quillmere-token';

function takeToken() {
  const match = /(?:^#|&)token=([0-9a-f]+)/.exec(window.location.hash);
  if (match) {
    // Kept for a reload of this tab only.
    sessionStorage.setItem(TOKEN_KEY, match[1]);
    history.replaceState(null, '', window.location.pathname);
    return match[1];
  }
  return sessionStorage.getItem(TOKEN_KEY);
}

const token = takeToken();

export function haveToken() {
  return token !== null;
}

// A refusal or failure, with the server's one-line reason.
export class RequestFailed extends Error {
  constructor(status, reason) {
    super(reason);
    this.status = status;
  }
}

async function send(method, path, body, signal) {
  const headers = { [TOKEN_HEADER]: token || '' };
  const init = { method, headers, signal, cache: 'no-store' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch (error) {
    if (error.name === 'AbortError') {
      throw error;
    }
    throw new RequestFailed(0, 'quillmere edit does not answer: has it stopped?');
  }
  if (!response.ok) {
    const reason = (await response.text()).trim();
    throw new RequestFailed(response.status, reason || response.statusText);
  }
  return response;
}

export async function getJson(path, signal) {
  return (await send('GET', path, undefined, signal)).json();
}

export async function postJson(path, body) {
  return (await send('POST', path, body)).json();
}

// The picture of a frame: its pixels ready to draw (null when nothing
// differs from the picture asked to be laid over), where they go (`tile`:
// {x, y} of a part, or null for the whole picture), the picture's id, the
// frame it shows and whether it is that frame itself or its key frame
// meanwhile.
export async function getPicture(path, signal) {
  const response = await send('GET', path, undefined, signal);
  const tileText = response.headers.get('X-Quillmere-Tile');
  let tile = null;
  if (tileText) {
    const [x, y, width, height] = tileText.split(',').map(Number);
    tile = { x, y, width, height };
  }
  const blob = await response.blob();
  const bitmap = tile && (tile.width === 0 || tile.height === 0)
    ? null : await createImageBitmap(blob);
  return {
    bitmap,
    tile,
    id: Number(response.headers.get('X-Quillmere-Picture')),
    frame: Number(response.headers.get('X-Quillmere-Frame')),
    exact: response.headers.get('X-Quillmere-Exact') === '1',
  };
}

// ---- The session's state as the runner pushes it to every open page.

const EVENTS_PATH = '/api/events';
// After a stream ends, and after the runner refused one for too many pages.
const RECONNECT_MS = 1000;
const BUSY_RECONNECT_MS = 10000;
const BUSY = 503;

// Calls onEvent(name, data) for each server-sent event ("session": the
// session's description, "render": the render's progress) and
// onConnection(connected, error) as the stream opens and ends, opening it
// again until the runner has stopped (error.status 0: it no longer
// answers). The stream is read with fetch rather than EventSource, which
// could not send the token header. Returns a function that stops following.
export function followEvents(onEvent, onConnection) {
  const controller = new AbortController();
  const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  (async () => {
    while (!controller.signal.aborted) {
      let wait = RECONNECT_MS;
      try {
        const response = await send('GET', EVENTS_PATH, undefined, controller.signal);
        onConnection(true, null);
        await readEvents(response.body, onEvent);
        onConnection(false, null);
      } catch (error) {
        if (controller.signal.aborted) {
          return;
        }
        onConnection(false, error);
        if (error.status === 0) {
          return;
        }
        wait = error.status === BUSY ? BUSY_RECONNECT_MS : RECONNECT_MS;
      }
      await pause(wait);
    }
  })();
  return () => controller.abort();
}

// Events are blocks of "field: value" lines ended by a blank line; the
// runner sends each event's data as one line of JSON.
async function readEvents(body, onEvent) {
  const reader = body.pipeThrough(new TextDecoderStream()).getReader();
  let text = '';
  for (;;) {
    const { value, done } = await reader.read();
    if (done) {
      return;
    }
    text += value;
    let end;
    while ((end = text.indexOf('\n\n')) >= 0) {
      const block = text.slice(0, end);
      text = text.slice(end + 2);
      let name = 'message';
      const data = [];
      for (const line of block.split('\n')) {
        const colon = line.indexOf(':');
        const field = colon < 0 ? line : line.slice(0, colon);
        const value = colon < 0 ? '' : line.slice(colon + 1).replace(/^ /, '');
        if (field === 'event') {
          name = value;
        } else if (field === 'data') {
          data.push(value);
        }
      }
      if (data.length > 0) {
        onEvent(name, JSON.parse(data.join('\n')));
      }
    }
  }
}
