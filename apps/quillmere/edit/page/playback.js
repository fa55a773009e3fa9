// Playback of the composite: Play asks the runner for frame after frame as
// small JPEG pictures (a preview width, scaled by the runner), draws each
// over the whole canvas, and keeps to the main video's rate, skipping
// frames when the pictures come slower than that. Pause (the same button),
// a press on the picture or a move of the slider stops it; the page then
// shows the exact picture of the frame reached.

import { getPicture } from './api.js';

// Wide enough to judge the overlay's motion, small enough for the runner
// to keep up on a small machine.
export const kPlaybackWidth = 960;

export class Playback {
  // `rate()`: [numerator, denominator] of the main's frame rate; `last()`:
  // its last frame (Infinity when unknown); `from()`: the frame shown now;
  // `onFrame(number)`: a frame is drawn; `onStop(number)`: playback ended
  // at that frame.
  constructor({ button, canvas, stopOn, rate, last, from, onFrame, onStop, onError }) {
    Object.assign(this, { button, canvas, rate, last, from, onFrame, onStop, onError });
    this.playing = false;
    this.runs = 0;  // a Play after a Pause ends the run before it
    this.context = canvas.getContext('2d');
    button.addEventListener('click', () => (this.playing ? this.stop() : this.play()));
    for (const [element, type] of stopOn) {
      element.addEventListener(type, () => this.stop());
    }
    this.showState();
  }

  showState() {
    this.button.textContent = this.playing ? 'Pause' : 'Play';
    this.button.title = this.playing ? 'Stop playing' : 'Play the composite from this frame';
    this.button.dataset.playing = String(this.playing);
  }

  play() {
    if (this.playing) {
      return;
    }
    let first = this.from();
    if (first >= this.last()) {
      first = 0;  // from the end, play starts again at the beginning
    }
    this.playing = true;
    this.showState();
    this.run(first, ++this.runs);
  }

  stop() {
    if (!this.playing) {
      return;
    }
    this.playing = false;
    this.showState();
  }

  async run(first, run) {
    const [num, den] = this.rate();
    const framesPerMs = num / den / 1000;
    const started = performance.now();
    const going = () => this.playing && this.runs === run;
    let shown = first;
    let next = first;
    try {
      while (going() && next <= this.last()) {
        const picture = await getPicture(`/api/picture?at=${next}&width=${kPlaybackWidth}`);
        if (!going()) {
          picture.bitmap.close();
          break;
        }
        this.context.drawImage(picture.bitmap, 0, 0, this.canvas.width, this.canvas.height);
        picture.bitmap.close();
        shown = picture.frame;
        this.onFrame(shown);
        // The frame due now, but never one already shown; when early, wait
        // for the next frame's time.
        const due = first + Math.floor((performance.now() - started) * framesPerMs);
        next = Math.max(shown + 1, due);
        const wait = (next - first) / framesPerMs - (performance.now() - started);
        if (wait > 0) {
          await new Promise((resolve) => setTimeout(resolve, wait));
        }
      }
    } catch (error) {
      this.onError(error);
    }
    if (this.runs === run) {
      this.playing = false;
      this.showState();
      this.onStop(shown);
    }
  }
}
