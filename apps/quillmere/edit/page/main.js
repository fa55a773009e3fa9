// quillmere edit's page: the picture, the mask on it, the settings, and
// what they give back. The runner holds the settings; the page sends each
// change and shows what comes back.
//
// Each picture shown is measured with the Performance API, from the user's
// action to the picture drawn, as "quillmere-picture" entries whose detail
// says why it was asked for ("settings", "mask", "frame", "start") and
// whether it is the frame itself or its key frame meanwhile.

import { getJson, getPicture, haveToken, postJson } from './api.js';
import { PictureView } from './picture_view.js';
import { Playback } from './playback.js';
import { RenderPanel } from './render_panel.js';
import { SettingsForm } from './settings_form.js';

const $ = (id) => document.getElementById(id);

let session = null;
let frame = 0;
let stopped = false;

function report(message, isError = false) {
  const status = $('status');
  status.textContent = message;
  status.classList.toggle('error', isError);
}

// "1:02.480" for a frame at the main video's rate.
function timeOf(frameNumber) {
  const [num, den] = session.main.rate;
  const seconds = (frameNumber * den) / num;
  const minutes = Math.floor(seconds / 60);
  const rest = (seconds - minutes * 60).toFixed(3).padStart(6, '0');
  return minutes >= 60
    ? `${Math.floor(minutes / 60)}:${String(minutes % 60).padStart(2, '0')}:${rest}`
    : `${minutes}:${rest}`;
}

// ---- Pictures: one request at a time, the latest wish wins.

// `shown`: the id of the picture on the canvas, for the runner to send only
// what differs from it.
const pictures = { wanted: null, busy: false, shown: 0 };

// `typed`: `at` is what was typed in the frame field (perhaps a time), and
// the frame it names is known once the picture comes.
function showPicture(reason,
  { at = String(frame), quick = false, typed = false, since = performance.now() } = {}) {
  pictures.wanted = { at, quick, typed, reason, since };
  if (!pictures.busy) {
    pumpPictures();
  }
}

async function pumpPictures() {
  pictures.busy = true;
  while (pictures.wanted && !stopped) {
    const wish = pictures.wanted;
    pictures.wanted = null;
    const path = `/api/picture?at=${encodeURIComponent(wish.at)}&revision=${session.revision}` +
      (wish.quick ? '&quick=1' : '');
    try {
      const picture = await getPicture(path + (pictures.shown ? `&over=${pictures.shown}` : ''));
      if (picture.bitmap) {
        view.show(picture.bitmap, picture.tile ? picture.tile.x : 0,
          picture.tile ? picture.tile.y : 0);
        picture.bitmap.close();
      }
      pictures.shown = picture.id;
      // What is shown, for whoever looks at the page from outside: the
      // request for the whole picture, and what it is.
      Object.assign($('picture').dataset, {
        source: path, frame: String(picture.frame), exact: String(picture.exact),
      });
      performance.measure('quillmere-picture', {
        start: wish.since,
        detail: { reason: wish.reason, exact: picture.exact, frame: picture.frame },
      });
      if (wish.typed && picture.exact && !pictures.wanted) {
        setFrame(picture.frame);
      }
      showFrameInfo(picture.frame, picture.exact);
      if (!picture.exact && !pictures.wanted) {
        // The key frame shows meanwhile; now the frame itself.
        pictures.wanted = { ...wish, quick: false };
      }
    } catch (error) {
      report(error.message, true);
    }
  }
  pictures.busy = false;
}

function setFrame(number) {
  frame = number;
  $('frame-slider').value = String(number);
  if (document.activeElement !== $('frame-at')) {
    $('frame-at').value = String(number);
  }
}

function showFrameInfo(shown, exact) {
  const count = session.main.frames;
  const of = count > 0 ? ` of ${count}` : '';
  $('frame-info').textContent = exact
    ? `frame ${shown}${of} · ${timeOf(shown)}`
    : `key frame ${shown} shown while the frame asked for is decoded…`;
}

function stepTo(number) {
  const last = session.main.frames > 0 ? session.main.frames - 1 : Infinity;
  const target = Math.min(Math.max(0, number), last);
  if (target !== frame) {
    setFrame(target);
    showPicture('frame', { quick: true });
  }
}

// ---- The session's state, as the runner answers.

// `source`: the control whose change this answers; other fields the user is
// typing in keep what is typed.
function apply(state, source = null) {
  session = state;
  form.show(state, source);
  view.setKeepAspect(state.settings.keepAspect);
  view.setMask(state.mask);
  showReadouts(state.readouts);
  if (document.activeElement !== $('mask-text') || source === $('mask-text')) {
    $('mask-text').value = state.maskText;
    showMaskTextError('');
  }
  $('command-line').value = state.commandLine;
  $('config-line').value = state.configLine;
  $('settings-text').value = state.settingsText;
  $('placement-note').textContent = state.settings.placement !== undefined
    ? 'The overlay is placed by these; drawing the mask sets it by hand.'
    : 'The mask is set by hand; a position, margin or size places the overlay again.';
}

// Why the Corners text was refused, next to the field; '' clears it.
function showMaskTextError(reason) {
  $('mask-text-error').textContent = reason;
  $('mask-text').setAttribute('aria-invalid', reason ? 'true' : 'false');
}

function showReadouts(readouts) {
  $('ro-top').value = readouts.top;
  $('ro-left').value = readouts.left;
  $('ro-right').value = readouts.right;
  $('ro-bottom').value = readouts.bottom;
  $('ro-size').value = `${readouts.width} x ${readouts.height}`;
}

async function change(path, body, reason, since, source = null) {
  try {
    apply(await postJson(path, body), source);
    report('');
    showPicture(reason, { since });
  } catch (error) {
    report(error.message, true);
    apply(session, source);
  }
}

// Read-outs of a mask being dragged: one request at a time, the latest wins.
const readouts = { wanted: null, busy: false };

async function pumpReadouts() {
  readouts.busy = true;
  while (readouts.wanted) {
    const mask = readouts.wanted;
    readouts.wanted = null;
    try {
      const corners = [mask.left, mask.top, mask.right, mask.bottom].join(',');
      showReadouts(await getJson(`/api/readouts?mask=${encodeURIComponent(corners)}`));
    } catch (error) {
      report(error.message, true);
    }
  }
  readouts.busy = false;
}

const view = new PictureView({
  canvas: $('picture'),
  stage: $('stage'),
  scroller: $('stage-scroll'),
  outline: $('outline'),
  onDrag: (mask) => {
    readouts.wanted = mask;
    if (!readouts.busy) {
      pumpReadouts();
    }
  },
  onRelease: (mask, moved) =>
    change('/api/mask', moved ? { ...mask, moved: true } : mask, 'mask', performance.now()),
});

const form = new SettingsForm(document, {
  onChange: (changes, since, control) =>
    change('/api/settings', changes, 'settings', since, control),
  onInvalid: (reason) => report(reason, true),
});

const renderPanel = new RenderPanel({
  render: $('render'),
  cancel: $('cancel'),
  bar: $('render-progress'),
  info: $('render-info'),
  question: $('replace-question'),
  replaceText: $('replace-text'),
  replaceYes: $('replace-yes'),
  replaceNo: $('replace-no'),
}, report);

// While playing, the canvas shows scaled pictures: the next exact one is
// asked for whole (`shown` 0), and after playback the frame reached.
const playback = new Playback({
  button: $('play'),
  canvas: $('picture'),
  stopOn: [[$('stage'), 'pointerdown'], [$('frame-slider'), 'input'],
    [$('frame-back'), 'click'], [$('frame-forward'), 'click'], [$('frame-at'), 'change']],
  rate: () => session.main.rate,
  last: () => (session.main.frames > 0 ? session.main.frames - 1 : Infinity),
  from: () => frame,
  onFrame: (number) => {
    pictures.shown = 0;
    setFrame(number);
    showFrameInfo(number, true);
  },
  onStop: () => showPicture('frame'),
  onError: (error) => report(error.message, true),
});

// ---- Controls outside the settings.

$('zoom').addEventListener('change', () => view.setZoom($('zoom').value));

// The runner reads the text, as --mask reads it; a text it refuses stays in
// the field to be mended, with the reason beside it.
$('mask-text').addEventListener('change', async () => {
  const field = $('mask-text');
  const since = performance.now();
  try {
    apply(await postJson('/api/settings', { maskText: field.value }), field);
    report('');
    showPicture('settings', { since });
  } catch (error) {
    if (error.status === 400) {
      showMaskTextError(error.message);
    } else {
      report(error.message, true);
      apply(session, field);
    }
  }
});

$('frame-slider').addEventListener('input', () => {
  setFrame(Number($('frame-slider').value));
  showPicture('frame', { quick: true });
});
$('frame-back').addEventListener('click', () => stepTo(frame - 1));
$('frame-forward').addEventListener('click', () => stepTo(frame + 1));
$('frame-at').addEventListener('change', () => {
  showPicture('frame', { at: $('frame-at').value.trim(), quick: true, typed: true });
});

document.addEventListener('keydown', (event) => {
  const typing = event.target.closest('input, select, textarea');
  if (typing || event.altKey || event.ctrlKey || event.metaKey || !session) {
    return;
  }
  if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
    event.preventDefault();
    stepTo(frame + (event.key === 'ArrowLeft' ? -1 : 1));
  }
});

for (const button of document.querySelectorAll('[data-copy]')) {
  button.addEventListener('click', async () => {
    const field = $(button.dataset.copy);
    try {
      await navigator.clipboard.writeText(field.value);
    } catch {
      field.select();
      document.execCommand('copy');
    }
    report('Copied.');
  });
}

$('save').addEventListener('click', async () => {
  try {
    const saved = await postJson('/api/save', {});
    report(`Saved the settings to ${saved.saved}.`);
  } catch (error) {
    report(error.message, true);
  }
});

$('quit').addEventListener('click', async () => {
  try {
    await postJson('/api/quit', {});
  } catch (error) {
    report(error.message, true);
    return;
  }
  stopped = true;
  $('stopped').hidden = false;
});

// ---- Start.

async function start() {
  if (!haveToken()) {
    report('Open the address that quillmere edit printed: it carries the session token.', true);
    return;
  }
  const since = performance.now();
  try {
    session = await getJson('/api/session');
  } catch (error) {
    report(error.message, true);
    return;
  }
  form.fillChoices(session.choices);
  $('main-name').textContent = session.main.path;
  document.title = `quillmere edit: ${session.main.path}`;
  $('overlay-path').value = session.overlay ? session.overlay.path : '(none: the mask is filled black)';
  $('overlay-facts').textContent = session.overlay
    ? `${session.overlay.width} x ${session.overlay.height}, ` +
      (session.overlay.still ? 'a still picture' : `${session.overlay.frames} frames`)
    : '';
  $('settings-file-name').textContent = session.settingsFile ?? '';
  $('save').disabled = session.settingsFile === null;
  $('save').title = session.settingsFile === null
    ? 'Start quillmere edit with --settings FILE to save' : `Write ${session.settingsFile}`;
  $('output-name').textContent = session.output ?? '(no -o given)';
  renderPanel.setOutput(session.output);
  const frames = session.main.frames;
  $('frame-slider').max = String(frames > 0 ? frames - 1 : 0);
  view.setPictureSize(session.main.width, session.main.height);
  view.setHeightPerWidth(session.heightPerWidth);
  apply(session);
  setFrame(session.main.startFrame);
  showPicture('start', { since });
  renderPanel.poll();
}

start();
