// Editing the mask and the settings beyond the pointer: undo and redo over
// every change, the arrow keys' nudges, the X, Y, W and H fields, the
// overlay's native size, and the zoom the wheel chose. Changes made here go
// to the runner one at a time, in order; nudges pile up while one is on its
// way, and the latest goes next.

import { EditHistory, restoringChanges } from './edit_history.js';
import { boxOf, maskOf, nativeSize, ordered, resizedAboutCentre, shifted } from './mask_geometry.js';

// The pixels an arrow key moves the mask, and with Shift.
const NUDGE_STEP = 1;
const NUDGE_STEP_SHIFTED = 10;
const NUDGES = new Map([
  ['ArrowLeft', [-1, 0]], ['ArrowRight', [1, 0]], ['ArrowUp', [0, -1]], ['ArrowDown', [0, 1]],
]);
// An undone change sends back what it altered; a setting the runner sets
// along with another (a placement turns Fit on) is sent again after.
const RESTORE_ROUNDS = 2;
// X, Y, W and H: their names as the page shows them, and the least each takes.
const BOX_FIELDS = {
  x: { label: 'X', least: -Infinity },
  y: { label: 'Y', least: -Infinity },
  width: { label: 'W', least: 1 },
  height: { label: 'H', least: 1 },
};
const WHOLE_NUMBER = /^[+-]?\d+$/;
const BAD_REQUEST = 400;

// A field whose own undo the browser keeps: the keys are its.
function typingIn(element) {
  if (element instanceof HTMLTextAreaElement) {
    return !element.readOnly;
  }
  return element instanceof HTMLInputElement && !element.readOnly &&
    ['text', 'number', 'search'].includes(element.type);
}

export class MaskEditing {
  // elements: undo, redo, nativeSize, zoom (the zoom's select), boxError,
  // maskText (the Corners field), and the X, Y, W, H fields as x, y, width,
  // height.
  // session(): the session's state as shown; send(path, changes, source)
  // sends a change as the page's own and shows the answer (false when the
  // answer is older than what is shown); showPicture(reason, since) asks
  // for its picture.
  constructor({ view, elements, session, send, showPicture, report }) {
    this.view = view;
    this.elements = elements;
    this.session = session;
    this.sendChange = send;
    this.showPicture = showPicture;
    this.report = report;
    this.history = new EditHistory();
    this.queue = Promise.resolve();
    this.nudge = { target: null, group: 0, sending: false };
    this.pressCount = 0;

    elements.undo.addEventListener('click', () => this.undo());
    elements.redo.addEventListener('click', () => this.redo());
    elements.nativeSize.addEventListener('click', () => this.toNativeSize());
    for (const name of Object.keys(BOX_FIELDS)) {
      elements[name].dataset.box = name;
      elements[name].addEventListener('change', () => this.boxChanged(elements[name]));
    }
    view.stage.addEventListener('keydown', (event) => this.stageKey(event));
    document.addEventListener('keydown', (event) => this.historyKey(event));
    this.showHistory();
  }

  // Shows a state in the fields here (but for one being typed in, other
  // than `source`).
  show(state, source = null) {
    const box = boxOf(state.mask);
    for (const name of Object.keys(BOX_FIELDS)) {
      const field = this.elements[name];
      if (field !== document.activeElement || field === source) {
        field.value = String(box[name]);
      }
    }
    this.elements.nativeSize.disabled = !state.overlay;
  }

  // The corners and X, Y, W, H of a mask being dragged.
  showDragged(mask) {
    const box = boxOf(mask);
    for (const name of Object.keys(BOX_FIELDS)) {
      this.elements[name].value = String(box[name]);
    }
    const { left, top, right, bottom } = ordered(mask);
    this.elements.maskText.value = `${left} ${top} ${right} ${bottom}`;
  }

  // A change the page made elsewhere, from state `before` to `after`.
  changed(before, after) {
    this.history.record(before.settings, after.settings);
    this.showHistory();
  }

  // The wheel's zoom, shown in the zoom's list (as a choice of its own
  // when none of the list's is it).
  zoomed(scale) {
    const select = this.elements.zoom;
    let option = [...select.options].find((entry) => !entry.dataset.wheel &&
      Number(entry.value) === scale);
    if (!option) {
      option = select.querySelector('option[data-wheel]') || new Option();
      option.dataset.wheel = 'true';
      option.value = String(scale);
      option.textContent = `${Math.round(scale * 100)}%`;
      select.append(option);
    }
    select.value = option.value;
  }

  // Runs `task` after every change sent before it; a failure is reported.
  serially(task) {
    this.queue = this.queue.then(task).catch((error) => this.report(error.message, true));
    return this.queue;
  }

  // Sends settings changes, shows the answer, and keeps it as a step of
  // the history (joined to the step of the same `group`, when not null).
  async send(path, changes, { group = null, source = null, record = true } = {}) {
    const since = performance.now();
    const before = this.session();
    let applied;
    try {
      applied = await this.sendChange(path, changes, source);
    } catch (error) {
      this.view.awaitPicture(null);
      throw error;
    }
    const answer = this.session();
    if (!applied) {
      this.view.awaitPicture(null);
      return answer;
    }
    if (record) {
      this.history.record(before.settings, answer.settings, group);
    }
    this.showHistory();
    this.view.awaitPicture(answer.revision);
    this.showPicture(changes.mask || path === '/api/mask' ? 'mask' : 'settings', since);
    this.view.follow(answer.mask);
    return answer;
  }

  // The rectangle a drag let go.
  released(mask, moved) {
    this.serially(() => this.send('/api/mask', moved ? { ...mask, moved: true } : mask));
  }

  sendMask(mask, options = {}) {
    this.view.showPreview(mask);
    this.view.follow(mask);
    return this.send('/api/settings', { mask }, options);
  }

  stageKey(event) {
    const step = NUDGES.get(event.key);
    if (!step || event.altKey || event.ctrlKey || event.metaKey || !this.session()) {
      return;
    }
    // The picture has the arrow keys; elsewhere they step frames.
    event.preventDefault();
    event.stopPropagation();
    if (!event.repeat) {
      this.pressCount += 1;
    }
    const distance = event.shiftKey ? NUDGE_STEP_SHIFTED : NUDGE_STEP;
    const from = this.nudge.target || this.view.preview || this.session().mask;
    this.nudge.target = shifted(ordered(from), step[0] * distance, step[1] * distance);
    this.nudge.group = this.pressCount;
    this.view.showPreview(this.nudge.target);
    this.view.follow(this.nudge.target);
    if (!this.nudge.sending) {
      this.nudge.sending = true;
      this.serially(() => this.sendNudges());
    }
  }

  async sendNudges() {
    try {
      while (this.nudge.target) {
        const { target, group } = this.nudge;
        await this.sendMask(target, { group: `nudge ${group}` });
        if (this.nudge.target === target) {
          this.nudge.target = null;
        }
      }
    } finally {
      this.nudge.target = null;
      this.nudge.sending = false;
    }
  }

  historyKey(event) {
    if (!(event.ctrlKey || event.metaKey) || event.altKey || typingIn(event.target)) {
      return;
    }
    const key = event.key.toLowerCase();
    if (key === 'z') {
      event.preventDefault();
      if (event.shiftKey) {
        this.redo();
      } else {
        this.undo();
      }
    } else if (key === 'y' && !event.shiftKey) {
      event.preventDefault();
      this.redo();
    }
  }

  undo() {
    this.serially(() => this.restore(this.history.undo(), () => this.history.redo()));
  }

  redo() {
    this.serially(() => this.restore(this.history.redo(), () => this.history.undo()));
  }

  // Takes the settings from step.from to step.to; `putBack` returns the
  // history to where it was when they cannot be.
  async restore(step, putBack) {
    this.showHistory();
    if (!step) {
      return;
    }
    try {
      for (let round = 0; round < RESTORE_ROUNDS; ++round) {
        const changes = restoringChanges(this.session().settings, step.from, step.to);
        if (Object.keys(changes).length === 0) {
          break;
        }
        if (changes.mask) {
          this.view.showPreview(changes.mask);
        }
        await this.send('/api/settings', changes, { record: false });
      }
    } catch (error) {
      putBack();
      this.showHistory();
      throw error;
    }
  }

  showHistory() {
    this.elements.undo.disabled = !this.history.canUndo();
    this.elements.redo.disabled = !this.history.canRedo();
  }

  toNativeSize() {
    const state = this.session();
    if (!state || !state.overlay) {
      return;
    }
    const size = nativeSize(state.overlay, state.main);
    this.serially(() => this.sendMask(resizedAboutCentre(state.mask, size.width, size.height)));
  }

  showBoxError(reason, field = null) {
    this.elements.boxError.textContent = reason;
    for (const name of Object.keys(BOX_FIELDS)) {
      const invalid = Boolean(reason) && this.elements[name] === field;
      this.elements[name].setAttribute('aria-invalid', invalid ? 'true' : 'false');
    }
  }

  // One of X, Y, W, H typed: the others stay as the mask has them. A text
  // that is no whole number in the field's range stays to be mended, with
  // the reason beside it, as does one the runner refuses.
  boxChanged(field) {
    const name = field.dataset.box;
    const { label, least } = BOX_FIELDS[name];
    const text = field.value.trim();
    if (!WHOLE_NUMBER.test(text) || Number(text) < least) {
      const range = least > -Infinity ? ` from ${least}` : '';
      this.showBoxError(`invalid value "${text}" for ${label}: expected a whole number of ` +
        `pixels${range}`, field);
      return;
    }
    this.showBoxError('');
    this.serially(async () => {
      const box = { ...boxOf(this.session().mask), [name]: Number(text) };
      try {
        await this.sendMask(maskOf(box), { source: field });
      } catch (error) {
        if (error.status !== BAD_REQUEST) {
          throw error;
        }
        this.showBoxError(`${label}: ${error.message}`, field);
      }
    });
  }
}
