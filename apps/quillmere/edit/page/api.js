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
