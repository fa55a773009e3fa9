// Render: starts the runner's render to the output named at start, shows
// its progress as the renderer counts it, and cancels it. An output that
// exists is replaced only after the user says so here (unless -y or -n was
// given at start, which decide as they do for render).
//
// Every open page shows the render, whichever page started it, and any of
// them can cancel it: the progress comes as the runner pushes it (show()),
// or, while this page does not follow the runner's events, by asking.
// What the panel has to say goes in its own line, where the render's
// progress takes its place once a render runs.

import { getJson, postJson, RequestFailed } from './api.js';

const POLL_PERIOD_MS = 250;
// The runner's answer when the output exists and the user is to be asked.
const ASK_FIRST = 412;

function clock(seconds) {
  const whole = Math.max(0, Math.round(seconds));
  const minutes = Math.floor(whole / 60);
  const rest = String(whole % 60).padStart(2, '0');
  return minutes >= 60
    ? `${Math.floor(minutes / 60)}:${String(minutes % 60).padStart(2, '0')}:${rest}`
    : `${minutes}:${rest}`;
}

export class RenderPanel {
  constructor(elements, report) {
    this.elements = elements;
    this.report = report;
    this.polling = false;
    this.followed = false;
    this.noOutput = true;
    elements.render.addEventListener('click', () => this.start(false));
    elements.cancel.addEventListener('click', () => this.cancel());
    elements.replaceYes.addEventListener('click', () => {
      elements.question.hidden = true;
      this.start(true);
    });
    elements.replaceNo.addEventListener('click', () => {
      elements.question.hidden = true;
      this.note('The existing output was kept.');
    });
  }

  setOutput(output) {
    this.noOutput = output === null;
    this.elements.render.disabled = output === null;
    this.elements.render.title = output === null ? 'Start quillmere edit with -o OUT to render' : '';
  }

  // Whether the runner's events bring the progress; without them the
  // panel asks for it while a render runs.
  setFollowed(followed) {
    this.followed = followed;
    if (!followed) {
      this.poll();
    }
  }

  // A word of the panel's own (not the render's progress).
  note(message, isError = false) {
    this.elements.info.textContent = message;
    this.elements.info.classList.toggle('error', isError);
  }

  async start(replace) {
    try {
      this.show(await postJson('/api/render', { replace }));
      if (!this.followed) {
        this.poll();
      }
    } catch (error) {
      if (error instanceof RequestFailed && error.status === ASK_FIRST) {
        this.elements.replaceText.textContent = `${error.message}. Replace it?`;
        this.elements.question.hidden = false;
        return;
      }
      this.note(error.message, true);
    }
  }

  async cancel() {
    try {
      this.show(await postJson('/api/render/cancel', {}));
    } catch (error) {
      this.note(error.message, true);
    }
  }

  // Asks for the progress until the render ends or the events bring it.
  async poll() {
    if (this.polling) {
      return;
    }
    this.polling = true;
    try {
      while (!this.followed) {
        const progress = await getJson('/api/render');
        this.show(progress);
        if (progress.state !== 'running') {
          break;
        }
        await new Promise((resolve) => setTimeout(resolve, POLL_PERIOD_MS));
      }
    } catch (error) {
      this.report(error.message, true);
    } finally {
      this.polling = false;
    }
  }

  show(progress) {
    const { render, cancel, bar, info, question } = this.elements;
    const running = progress.state === 'running';
    render.disabled = running || this.noOutput;
    cancel.disabled = !running;
    if (running) {
      // Started here or in another page: the question is answered.
      question.hidden = true;
      info.classList.remove('error');
    }
    if (progress.totalFrames > 0) {
      bar.max = progress.totalFrames;
      bar.value = progress.frames;
    } else if (running) {
      bar.removeAttribute('value');
    }
    info.dataset.state = progress.state;
    if (running) {
      const parts = [`frame ${progress.frames}` +
        (progress.totalFrames > 0 ? ` of ${progress.totalFrames}` : '')];
      if (progress.fps > 0) {
        parts.push(`${progress.fps.toFixed(1)} fps`, `${progress.speed.toFixed(2)}x`);
      }
      if (progress.secondsLeft !== null) {
        parts.push(`${clock(progress.secondsLeft)} left`);
      }
      info.textContent = parts.join(' · ');
    } else if (progress.state !== 'idle') {
      info.textContent = progress.message;
      info.classList.toggle('error', progress.state === 'failed');
      if (progress.state === 'done') {
        bar.value = bar.max;
      }
    }
  }
}
