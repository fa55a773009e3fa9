// quillmere edit's page: the picture, the mask on it, the settings, and
// what they give back. The runner holds the settings; the page sends each
// change and shows what comes back.
//
// Every page open on the session shows one state: the runner pushes each
// change, whichever page made it, to all of them. A change sends only the
// setting changed and is made on the settings as the runner has them then,
// so changes made in two pages at once both hold; when both change the same
// setting, the later one wins, and the page that did not make it says what
// another page changed.
//
// Each picture shown is measured with the Performance API, from the user's
// action to the picture drawn, as "quillmere-picture" entries whose detail
// says why it was asked for ("settings", "mask", "frame", "start", or
// "elsewhere": a change another page made) and whether it is the frame
// itself or its key frame meanwhile.

import { followEvents, getJson, getPicture, haveToken, postJson } from './api.js';
import { MaskEditing } from './mask_editing.js';
import { PictureView } from './picture_view.js';
import { Playback } from './playback.js';
import { RenderPanel } from './render_panel.js';
import { SettingsForm } from './settings_form.js';

const $ = (id) => document.getElementById(id);

let session = null;
let frame = 0;
let stopped = false;
// What the status line says it about ('picture': a picture that could not
// be had), so that it goes once that is mended.
let statusTopic = null;

function report(message, isError = false, topic = null) {
  const status = $('status');
  status.textContent = message;
  status.classList.toggle('error', isError);
  statusTopic = message ? topic : null;
}

// Clears the status line if it still speaks of `topic`.
function settled(topic) {
  if (statusTopic === topic) {
    report('');
  }
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
    const revision = session.revision;
    const path = `/api/picture?at=${encodeURIComponent(wish.at)}&revision=${revision}` +
      (wish.quick ? '&quick=1' : '');
    try {
      const picture = await getPicture(path + (pictures.shown ? `&over=${pictures.shown}` : ''));
      if (picture.bitmap) {
        view.show(picture.bitmap, picture.tile ? picture.tile.x : 0,
          picture.tile ? picture.tile.y : 0);
        picture.bitmap.close();
      }
      view.pictureDrawn(revision);
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
      settled('picture');
      if (!picture.exact && !pictures.wanted) {
        // The key frame shows meanwhile; now the frame itself.
        pictures.wanted = { ...wish, quick: false };
      }
    } catch (error) {
      // The picture stays as it was: the frame controls go back to the
      // frame it shows, and say so.
      const shownText = $('picture').dataset.frame;
      if (!pictures.wanted && shownText !== undefined) {
        setFrame(Number(shownText));
        $('frame-at').value = shownText;
        report(`${error.message}; the picture shows frame ${shownText}`, true, 'picture');
      } else {
        report(error.message, true, 'picture');
      }
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
  // Answers may come out of order; one older than the state shown is stale.
  if (session && state.revision < session.revision) {
    return;
  }
  session = state;
  form.show(state, source);
  view.setKeepAspect(state.settings.keepAspect);
  view.setLook(state.settings);
  view.setMask(state.mask);
  editing.show(state, source);
  showReadouts(state.readouts);
  if (document.activeElement !== $('mask-text') || source === $('mask-text')) {
    $('mask-text').value = state.maskText;
    showMaskTextError('');
  }
  $('command-line').value = state.commandLine;
  $('command-folder').hidden = state.commandFolder === null;
  $('command-folder').textContent = state.commandFolder === null ? ''
    : `Paths typed when quillmere edit started are written out from ${state.commandFolder}, ` +
      'the folder it started in, so that the line runs from any folder.';
  $('config-line').value = state.configLine;
  $('settings-text').value = state.settingsText;
  // A mask that moves by keys is kept as it is: the page moves one mask only.
  const keyed = state.settings.keys !== undefined;
  $('mask-text').disabled = keyed;
  $('placement-note').textContent = keyed
    ? `The mask moves by ${state.settings.keys.length} keys (--key), kept as they are: `
      + 'this page does not edit keys yet, and the outline shows the first key\'s mask.'
    : state.settings.placement !== undefined
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

// ---- Changes made here and in other pages.

// Changes of this page on their way; the runner's events about the session
// wait until they are answered (`elsewhere`: the latest), so that the page
// can tell its own changes from other pages'.
const changes = { sending: 0, elsewhere: null };

// Sends a change and shows the runner's answer, unless another page's
// later change overtook it. Returns whether it was shown. A revision more
// than one past the page's, with no other change of this page on its way,
// means another page changed something meanwhile.
async function sendChange(path, body, source, { record = true } = {}) {
  changes.sending += 1;
  try {
    const state = await postJson(path, body);
    const before = session.revision;
    if (state.revision < before) {
      return false;
    }
    const shown = session;
    apply(state, source);
    if (record) {
      editing.changed(shown, state);
    }
    report(state.revision > before + 1 && changes.sending === 1
      ? 'Changed here, over a change made in another page meanwhile.' : '');
    return true;
  } finally {
    changes.sending -= 1;
    if (changes.sending === 0 && changes.elsewhere) {
      const state = changes.elsewhere;
      changes.elsewhere = null;
      sessionChanged(state);
    }
  }
}

// The names of the settings that differ between two states.
function changedSettings(before, after) {
  const names = new Set([...Object.keys(before.settings), ...Object.keys(after.settings)]);
  return [...names].filter((name) =>
    JSON.stringify(before.settings[name]) !== JSON.stringify(after.settings[name]));
}

// The session as the runner pushed it: shown if it is newer than what the
// page shows, which it is only when another page changed it.
function sessionChanged(state) {
  if (changes.sending > 0) {
    changes.elsewhere = state;
    return;
  }
  if (!session || state.revision <= session.revision) {
    return;
  }
  const names = changedSettings(session, state);
  apply(state);
  report(`Changed in another page: ${names.length > 0 ? names.join(', ') : 'the settings'}.`,
    false, 'elsewhere');
  showPicture('elsewhere');
}

async function change(path, body, reason, since, source = null) {
  try {
    if (await sendChange(path, body, source)) {
      showPicture(reason, { since });
    }
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
    editing.showDragged(mask);
    readouts.wanted = mask;
    if (!readouts.busy) {
      pumpReadouts();
    }
  },
  onRelease: (mask, moved) => editing.released(mask, moved),
  onZoom: (scale) => editing.zoomed(scale),
});

const editing = new MaskEditing({
  view,
  elements: {
    undo: $('undo'), redo: $('redo'), nativeSize: $('native-size'), zoom: $('zoom'),
    x: $('mask-x'), y: $('mask-y'), width: $('mask-w'), height: $('mask-h'),
    boxError: $('mask-box-error'), maskText: $('mask-text'),
  },
  session: () => session,
  send: (path, body, source) => sendChange(path, body, source, { record: false }),
  showPicture: (reason, since) => showPicture(reason, { since }),
  report,
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
    if (await sendChange('/api/settings', { maskText: field.value }, field)) {
      showPicture('settings', { since });
    }
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
  showStopped();
});

function showStopped() {
  stopped = true;
  $('stopped').hidden = false;
}

// ---- The runner's events: what other pages change, the render's progress.

function follow() {
  const note = $('sync-note');
  followEvents((name, data) => {
    if (name === 'session') {
      sessionChanged(data);
    } else if (name === 'render') {
      renderPanel.show(data);
    }
  }, (connected, error) => {
    if (stopped) {
      return;
    }
    if (error && error.status === 0) {
      // Quit in another page, or the runner was stopped.
      showStopped();
      return;
    }
    // A stream that ended whole is opened again at once; one that failed
    // leaves the render's progress to be asked for meanwhile.
    if (connected || error) {
      renderPanel.setFollowed(connected);
      note.classList.toggle('error', !connected);
      note.textContent = connected
        ? 'Every page open on this session shows its changes at once; ' +
          'when two pages change the same setting, the later change wins.'
        : `This page does not follow changes made in other pages: ${error.message}`;
    }
  });
}

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
  follow();
}

start();
