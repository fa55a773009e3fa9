// Undo and redo over the settings, with no page behind it. Each step holds
// the settings (as the runner describes them, the settings file's names)
// before and after one change; undoing it sends back what that change
// altered, and only that, so that a change made since to another setting
// stays.

// Steps kept; the oldest go first.
export const HISTORY_LIMIT = 200;

// Chosen on the command line: the page never sends them.
const FIXED_SETTINGS = new Set(['overlay', 'keepRotation']);
const PLACEMENT = 'placement';

function same(a, b) {
  return JSON.stringify(a) === JSON.stringify(b);
}

// The settings changes that take the settings `current` from what `from`
// gave to what `to` gives, for the settings that differ between `from` and
// `to` and are not yet as `to` has them. A mask set by hand and a placement
// exclude each other: the one `to` has is sent whole (a placement's fields
// it leaves out as null, their default).
export function restoringChanges(current, from, to) {
  const changes = {};
  const names = new Set([...Object.keys(from), ...Object.keys(to)]);
  for (const name of names) {
    if (FIXED_SETTINGS.has(name) || !(name in to) || same(from[name], to[name]) ||
        same(current[name], to[name])) {
      continue;
    }
    if (name === PLACEMENT) {
      const fields = new Set([...Object.keys(to[name]), ...Object.keys(current[name] ?? {})]);
      changes[name] = Object.fromEntries([...fields].map((field) => [field, to[name][field] ?? null]));
    } else {
      changes[name] = to[name];
    }
  }
  return changes;
}

export class EditHistory {
  constructor(limit = HISTORY_LIMIT) {
    this.limit = limit;
    this.steps = [];
    this.done = 0;  // steps[0 .. done) are done, the rest undone
  }

  // A change from settings `before` to `after`. One that changes nothing is
  // no step. A change of the same `group` (a key held down) as the step
  // just done, with nothing undone since, joins that step.
  record(before, after, group = null) {
    if (same(before, after)) {
      return false;
    }
    const last = this.done === this.steps.length ? this.steps[this.done - 1] : null;
    this.steps.length = this.done;
    if (group !== null && last && last.group === group) {
      last.after = after;
      return true;
    }
    this.steps.push({ before, after, group });
    if (this.steps.length > this.limit) {
      this.steps.shift();
    }
    this.done = this.steps.length;
    return true;
  }

  canUndo() {
    return this.done > 0;
  }

  canRedo() {
    return this.done < this.steps.length;
  }

  // The settings to go from and to, or null when there is nothing to undo.
  undo() {
    if (!this.canUndo()) {
      return null;
    }
    const step = this.steps[--this.done];
    return { from: step.after, to: step.before };
  }

  redo() {
    if (!this.canRedo()) {
      return null;
    }
    const step = this.steps[this.done++];
    return { from: step.before, to: step.after };
  }
}
