// The picture and the mask drawn over it, edited with the pointer.
//
// A press outside the mask draws a new one from that point; inside, it
// moves the mask; on an edge or a corner, it moves that edge or corner.
// Shift keeps the mask's aspect on any drag (a drawn one takes the
// overlay's); without Alt, edges, corners and a moved mask's edges and
// centre snap to the frame's edges, centre lines and action-safe margins,
// with guides shown. While dragging, the overlay follows the pointer at
// once, drawn in the page from the last exact picture (the part the mask
// covered, scaled into the dragged rectangle) over the settled picture,
// where the mask was is veiled; the released rectangle goes to the runner,
// which orders its corners and cuts a drawn or resized one back to the
// picture, and its exact picture replaces the one drawn here. A moved mask
// keeps its size, even partly off the picture.
//
// Pointer positions map to picture pixels through the picture's displayed
// box, whatever the zoom and the screen's pixel ratio: a corner lies on the
// pixel edge nearest to the pointer. The wheel zooms about the pointer.
//
// Each overlay drawn here is measured with the Performance API, from the
// first pointer move or key it shows to its drawing, as a "quillmere-live"
// entry.

import {
  BOTTOM, LEFT, RIGHT, TOP, cornerWithAspect, ordered, resizedWithAspect, sameMask,
  scrollForZoom, scrollToShow, shifted,
} from './mask_geometry.js';
import { guidesOn, snapMoved, snapPoint } from './snapping.js';

// How near (in CSS pixels) a press must be to an edge to take hold of it.
const GRIP_REACH = 6;
// How near (in CSS pixels) an edge or centre comes to a line to snap to it.
const SNAP_REACH = 6;
// The room (in CSS pixels) kept around a mask scrolled into view.
const FOLLOW_MARGIN = 24;
// The zoom's limits, as scales of the picture.
const ZOOM_LEAST = 0.05;
const ZOOM_MOST = 8;
// The wheel's travel (in CSS pixels) that doubles or halves the zoom, and
// what a wheel counting lines or pages travels for each.
const WHEEL_PIXELS_PER_DOUBLING = 400;
const WHEEL_PIXELS_PER_LINE = 40;
const WHEEL_PIXELS_PER_PAGE = 800;
// Over the place the dragged overlay left.
const VEIL = 'rgba(0, 0, 0, 0.55)';
const MIDDLE_BUTTON = 1;
// No picture is awaited, or the runner's answer is, before its revision.
const AWAITING_ANSWER = -1;

const CURSORS = new Map([
  [LEFT, 'ew-resize'], [RIGHT, 'ew-resize'], [TOP, 'ns-resize'], [BOTTOM, 'ns-resize'],
  [LEFT | TOP, 'nwse-resize'], [RIGHT | BOTTOM, 'nwse-resize'],
  [RIGHT | TOP, 'nesw-resize'], [LEFT | BOTTOM, 'nesw-resize'],
]);

const NO_GUIDES = { x: [], y: [] };

export class PictureView {
  // onDrag(mask): the rectangle while dragging, unsettled.
  // onRelease(mask, moved): the rectangle let go, when it differs from the
  // mask; `moved` when the mask was moved whole. The rectangle stays drawn
  // until awaitPicture() says which picture shows it.
  // onZoom(scale): the zoom the wheel chose.
  constructor({ canvas, stage, scroller, outline, onDrag, onRelease, onZoom }) {
    this.canvas = canvas;
    this.stage = stage;
    this.scroller = scroller;
    this.outline = outline;
    this.onDrag = onDrag;
    this.onRelease = onRelease;
    this.onZoom = onZoom;
    this.width = 0;
    this.height = 0;
    this.zoom = 'fit';
    this.heightPerWidth = 1;
    this.keepAspect = false;
    this.border = null;
    this.mask = null;
    this.drag = null;
    this.pan = null;
    // The rectangle drawn in the page until the exact picture comes.
    this.preview = null;
    this.awaited = null;
    this.drawnRevision = 0;
    this.frameRequest = 0;
    this.liveSince = null;
    this.context = canvas.getContext('2d');

    this.live = document.createElement('canvas');
    this.live.className = 'live';
    this.live.hidden = true;
    this.liveContext = this.live.getContext('2d');
    canvas.after(this.live);
    this.guides = document.createElement('div');
    this.guides.className = 'guides';
    stage.append(this.guides);
    // Arrow keys reach the mask once the picture has been pressed.
    stage.tabIndex = 0;

    stage.addEventListener('pointerdown', (event) => this.press(event));
    stage.addEventListener('pointermove', (event) => this.move(event));
    stage.addEventListener('pointerup', (event) => this.release(event));
    stage.addEventListener('pointercancel', () => this.abandon());
    scroller.addEventListener('wheel', (event) => this.wheel(event), { passive: false });
    window.addEventListener('resize', () => this.layOut());
    // A modifier pressed or let go mid-drag applies at once.
    for (const type of ['keydown', 'keyup']) {
      window.addEventListener(type, (event) => this.modifierChanged(event));
    }
  }

  setPictureSize(width, height) {
    this.width = width;
    this.height = height;
    this.canvas.width = width;
    this.canvas.height = height;
    this.live.width = width;
    this.live.height = height;
    this.layOut();
  }

  // The overlay's height over its width in picture pixels: what Keep
  // Aspect keeps while drawing.
  setHeightPerWidth(ratio) {
    this.heightPerWidth = ratio > 0 ? ratio : 1;
  }

  setKeepAspect(on) {
    this.keepAspect = on;
  }

  // The border the drawn overlay gets while dragging, from the settings.
  setLook(settings) {
    this.border = settings.border.on ? { size: settings.border.size, color: settings.border.color }
      : null;
  }

  // 'fit', or a scale of the picture.
  setZoom(zoom) {
    this.zoom = zoom;
    this.layOut();
  }

  // The settled mask, as the runner holds it.
  setMask(mask) {
    this.mask = { ...mask };
    if (!this.drag && !this.preview) {
      this.drawOutline(this.mask);
    }
  }

  // A whole picture, or a part of one at (x, y) over the picture shown.
  show(bitmap, x = 0, y = 0) {
    this.context.drawImage(bitmap, x, y);
  }

  // The picture of settings revision `revision` is on the canvas.
  pictureDrawn(revision) {
    this.drawnRevision = Math.max(this.drawnRevision, revision);
    if (this.awaited !== null && this.awaited !== AWAITING_ANSWER &&
        this.drawnRevision >= this.awaited) {
      this.endPreview();
    }
  }

  // Draws `mask` at once, from the picture shown, until awaitPicture().
  showPreview(mask) {
    if (!this.mask) {
      return;
    }
    this.preview = { ...mask };
    this.awaited = AWAITING_ANSWER;
    this.drawOutline(mask);
    this.requestLive();
  }

  // The settings revision whose picture shows the rectangle drawn in the
  // page; null when none will (the change failed).
  awaitPicture(revision) {
    if (this.awaited === null) {
      return;
    }
    if (revision === null || revision <= this.drawnRevision) {
      this.endPreview();
    } else {
      this.awaited = revision;
    }
  }

  endPreview() {
    this.preview = null;
    this.awaited = null;
    if (!this.drag) {
      this.live.hidden = true;
      this.drawGuides(NO_GUIDES);
      if (this.mask) {
        this.drawOutline(this.mask);
      }
    }
  }

  // CSS pixels per picture pixel.
  scale() {
    return this.canvas.getBoundingClientRect().width / this.width;
  }

  layOut() {
    if (!this.width) {
      return;
    }
    let zoom = Number(this.zoom);
    if (this.zoom === 'fit') {
      const roomWide = this.scroller.clientWidth - 1;
      const roomHigh = window.innerHeight * 0.75 - 2;
      zoom = Math.max(ZOOM_LEAST, Math.min(roomWide / this.width, roomHigh / this.height));
    }
    for (const picture of [this.canvas, this.live]) {
      picture.style.width = `${this.width * zoom}px`;
      picture.style.height = `${this.height * zoom}px`;
    }
    const shown = this.drag ? this.drag.current : this.preview || this.mask;
    if (shown) {
      this.drawOutline(shown);
    }
    this.drawGuides(this.drag ? this.drag.guides : NO_GUIDES);
  }

  wheel(event) {
    if (!this.width) {
      return;
    }
    event.preventDefault();
    const unit = [1, WHEEL_PIXELS_PER_LINE, WHEEL_PIXELS_PER_PAGE][event.deltaMode] ?? 1;
    const factor = 2 ** ((-event.deltaY * unit) / WHEEL_PIXELS_PER_DOUBLING);
    this.zoomAbout(this.scale() * factor, event.clientX, event.clientY);
  }

  // Zooms to `scale`, keeping the picture point under (clientX, clientY)
  // where it is.
  zoomAbout(scale, clientX, clientY) {
    const zoom = Math.min(ZOOM_MOST, Math.max(ZOOM_LEAST, scale));
    const point = this.pointOf({ clientX, clientY });
    const view = this.scroller.getBoundingClientRect();
    const pointer = {
      x: clientX - view.left - this.scroller.clientLeft,
      y: clientY - view.top - this.scroller.clientTop,
    };
    this.setZoom(zoom);
    const scroll = scrollForZoom(point, pointer, this.scale());
    this.scroller.scrollLeft = scroll.left;
    this.scroller.scrollTop = scroll.top;
    this.onZoom(zoom);
  }

  // Scrolls the view, as little as it can, to show `mask` (its part on the
  // picture).
  follow(mask) {
    const scale = this.scale();
    const box = ordered(mask);
    const left = Math.max(0, box.left);
    const top = Math.max(0, box.top);
    const right = Math.min(this.width, box.right);
    const bottom = Math.min(this.height, box.bottom);
    if (left >= right || top >= bottom) {
      return;
    }
    const scroll = scrollToShow({ left: this.scroller.scrollLeft, top: this.scroller.scrollTop },
      this.scroller.clientWidth, this.scroller.clientHeight,
      { left: left * scale, top: top * scale, right: right * scale, bottom: bottom * scale },
      FOLLOW_MARGIN);
    this.scroller.scrollLeft = scroll.left;
    this.scroller.scrollTop = scroll.top;
  }

  // The pointer's position in picture pixels, not rounded.
  pointOf(event) {
    const box = this.canvas.getBoundingClientRect();
    return {
      x: ((event.clientX - box.left) * this.width) / box.width,
      y: ((event.clientY - box.top) * this.height) / box.height,
    };
  }

  // The mask as drawn: the one released or nudged until the runner's
  // picture of it comes, else the settled one.
  shownMask() {
    return this.preview || this.mask;
  }

  // Which edges of the mask a press at `point` takes hold of; 0 for none.
  gripAt(point) {
    if (!this.mask) {
      return 0;
    }
    const mask = ordered(this.shownMask());
    const reach = GRIP_REACH / this.scale();
    const withinX = point.x >= mask.left - reach && point.x <= mask.right + reach;
    const withinY = point.y >= mask.top - reach && point.y <= mask.bottom + reach;
    if (!withinX || !withinY) {
      return 0;
    }
    let grip = 0;
    if (Math.abs(point.x - mask.left) <= reach) {
      grip |= LEFT;
    } else if (Math.abs(point.x - mask.right) <= reach) {
      grip |= RIGHT;
    }
    if (Math.abs(point.y - mask.top) <= reach) {
      grip |= TOP;
    } else if (Math.abs(point.y - mask.bottom) <= reach) {
      grip |= BOTTOM;
    }
    return grip;
  }

  contains(point) {
    if (!this.mask) {
      return false;
    }
    const mask = ordered(this.shownMask());
    return point.x >= mask.left && point.x < mask.right && point.y >= mask.top &&
      point.y < mask.bottom;
  }

  // The snapping reach in picture pixels; none while Alt is held.
  snapReach(alt) {
    return alt ? -1 : SNAP_REACH / this.scale();
  }

  press(event) {
    if (event.button === MIDDLE_BUTTON) {
      this.startPan(event);
      return;
    }
    if (event.button !== 0 || !this.width || !this.mask) {
      return;
    }
    event.preventDefault();
    // The press takes no focus (default prevented): the picture takes it,
    // so that a field still being typed in lets go, and the arrow keys
    // reach the mask.
    this.stage.focus({ preventScroll: true });
    this.stage.setPointerCapture(event.pointerId);
    const point = this.pointOf(event);
    const grip = this.gripAt(point);
    let kind = 'draw';
    if (grip) {
      kind = 'resize';
    } else if (this.contains(point)) {
      kind = 'move';
    }
    const start = ordered(this.shownMask());
    const frame = { width: this.width, height: this.height };
    // A drawn mask starts on the line the press is near.
    const anchor = snapPoint({ x: Math.round(point.x), y: Math.round(point.y) }, frame,
      this.snapReach(event.altKey), { x: true, y: true }).point;
    this.drag = {
      kind, grip, point, anchor, start, current: start, guides: NO_GUIDES,
      pointer: point, shift: event.shiftKey, alt: event.altKey,
    };
    this.outline.classList.add('dragging');
  }

  // The middle button drags the view about, as the wheel no longer
  // scrolls it.
  startPan(event) {
    event.preventDefault();
    this.stage.setPointerCapture(event.pointerId);
    this.pan = {
      x: event.clientX, y: event.clientY,
      left: this.scroller.scrollLeft, top: this.scroller.scrollTop,
    };
  }

  move(event) {
    if (this.pan) {
      this.scroller.scrollLeft = this.pan.left - (event.clientX - this.pan.x);
      this.scroller.scrollTop = this.pan.top - (event.clientY - this.pan.y);
      return;
    }
    const point = this.pointOf(event);
    if (!this.drag) {
      this.stage.style.cursor = this.cursorAt(point);
      return;
    }
    Object.assign(this.drag, { pointer: point, shift: event.shiftKey, alt: event.altKey });
    this.update();
  }

  modifierChanged(event) {
    if (!this.drag) {
      return;
    }
    if (event.key === 'Escape') {
      this.abandon();
      return;
    }
    if (event.key === 'Shift' || event.key === 'Alt') {
      event.preventDefault();
      Object.assign(this.drag, { shift: event.shiftKey, alt: event.altKey });
      this.update();
    }
  }

  update() {
    const { mask, guides } = this.dragged();
    this.drag.current = mask;
    this.drag.guides = guides;
    this.drawOutline(mask);
    this.drawGuides(guides);
    this.requestLive();
    this.onDrag(mask);
  }

  release(event) {
    this.pan = null;
    if (!this.drag) {
      return;
    }
    const drag = this.drag;
    Object.assign(drag, { pointer: this.pointOf(event), shift: event.shiftKey, alt: event.altKey });
    const released = this.dragged().mask;
    this.drag = null;
    this.outline.classList.remove('dragging');
    this.drawGuides(NO_GUIDES);
    const empty = released.left === released.right || released.top === released.bottom;
    if ((drag.kind === 'draw' && empty) || sameMask(ordered(released), drag.start)) {
      // A click, or a drag that came back where it began: nothing changes.
      if (this.preview) {
        this.drawOutline(this.preview);
        this.requestLive();
      } else {
        this.endPreview();
      }
      this.onDrag(this.preview || this.mask);
      return;
    }
    this.showPreview(released);
    this.onRelease(released, drag.kind === 'move');
  }

  abandon() {
    this.pan = null;
    if (!this.drag) {
      return;
    }
    this.drag = null;
    this.outline.classList.remove('dragging');
    this.drawGuides(NO_GUIDES);
    if (this.preview) {
      this.drawOutline(this.preview);
      this.requestLive();
    } else {
      this.endPreview();
    }
    if (this.mask) {
      this.onDrag(this.preview || this.mask);
    }
  }

  // The rectangle the drag gives now, and the guides of the lines it
  // snapped to.
  dragged() {
    const drag = this.drag;
    const frame = { width: this.width, height: this.height };
    const reach = this.snapReach(drag.alt);
    const start = drag.start;
    const still = Math.round(drag.pointer.x) === Math.round(drag.point.x) &&
      Math.round(drag.pointer.y) === Math.round(drag.point.y);
    if (still && drag.kind !== 'draw') {
      // A press that has not moved yet moves nothing: it does not snap.
      return { mask: start, guides: NO_GUIDES };
    }
    if (drag.kind === 'move') {
      const dx = Math.round(drag.pointer.x - drag.point.x);
      const dy = Math.round(drag.pointer.y - drag.point.y);
      return snapMoved(shifted(start, dx, dy), frame, reach);
    }
    const axes = drag.kind === 'draw' ? { x: true, y: true }
      : { x: Boolean(drag.grip & (LEFT | RIGHT)), y: Boolean(drag.grip & (TOP | BOTTOM)) };
    const snapped = snapPoint({ x: Math.round(drag.pointer.x), y: Math.round(drag.pointer.y) },
      frame, reach, axes);
    const { x, y } = snapped.point;
    let mask;
    if (drag.kind === 'draw') {
      const anchor = drag.anchor;
      if (drag.shift) {
        mask = cornerWithAspect(anchor, { x, y }, this.heightPerWidth);
      } else {
        // As the plug-in draws: the width follows the pointer, the height
        // the overlay's aspect (a drag to the left also goes up).
        const bottom = this.keepAspect
          ? anchor.y + Math.trunc((x - anchor.x) * this.heightPerWidth) : y;
        mask = { left: anchor.x, top: anchor.y, right: x, bottom };
      }
    } else if (drag.shift) {
      const width = start.right - start.left;
      const height = start.bottom - start.top;
      const ratio = width > 0 && height > 0 ? height / width : this.heightPerWidth;
      mask = resizedWithAspect(start, drag.grip, x, y, ratio);
    } else {
      mask = this.resized(start, drag.grip, x, y);
    }
    return { mask, guides: guidesOn(ordered(mask), frame, snapped.axes) };
  }

  resized(start, grip, x, y) {
    const rect = { ...start };
    if (grip & LEFT) rect.left = x;
    if (grip & RIGHT) rect.right = x;
    if (grip & TOP) rect.top = y;
    if (grip & BOTTOM) rect.bottom = y;
    const corner = (grip & (LEFT | RIGHT)) && (grip & (TOP | BOTTOM));
    if (this.keepAspect && corner) {
      // The corner opposite stays; the height follows the width.
      const height = Math.trunc(Math.abs(rect.right - rect.left) * this.heightPerWidth);
      if (grip & BOTTOM) {
        rect.bottom = rect.top + height;
      } else {
        rect.top = rect.bottom - height;
      }
    }
    return rect;
  }

  cursorAt(point) {
    const grip = this.gripAt(point);
    if (grip) {
      return CURSORS.get(grip);
    }
    return this.contains(point) ? 'move' : 'crosshair';
  }

  // The page's own picture of the overlay somewhere else, drawn at the
  // browser's next frame: as many pointer moves as come meanwhile draw once.
  requestLive() {
    if (this.liveSince === null) {
      this.liveSince = performance.now();
    }
    if (!this.frameRequest) {
      this.frameRequest = requestAnimationFrame(() => {
        this.frameRequest = 0;
        this.drawLive();
      });
    }
  }

  drawLive() {
    const target = this.drag ? this.drag.current : this.preview;
    if (!target || !this.mask) {
      this.live.hidden = true;
      this.liveSince = null;
      return;
    }
    const context = this.liveContext;
    const source = ordered(this.mask);
    const box = ordered(target);
    const border = this.border ? this.border.size : 0;
    context.clearRect(0, 0, this.width, this.height);
    context.fillStyle = VEIL;
    context.fillRect(source.left - border, source.top - border,
      source.right - source.left + 2 * border, source.bottom - source.top + 2 * border);
    if (this.border) {
      context.fillStyle = this.border.color;
      context.fillRect(box.left - border, box.top - border,
        box.right - box.left + 2 * border, box.bottom - box.top + 2 * border);
    }
    // The part of the settled mask on the picture, scaled as the mask is.
    const sourceWidth = source.right - source.left;
    const sourceHeight = source.bottom - source.top;
    const left = Math.max(0, source.left);
    const top = Math.max(0, source.top);
    const right = Math.min(this.width, source.right);
    const bottom = Math.min(this.height, source.bottom);
    if (right > left && bottom > top && box.right > box.left && box.bottom > box.top) {
      const scaleX = (box.right - box.left) / sourceWidth;
      const scaleY = (box.bottom - box.top) / sourceHeight;
      context.drawImage(this.canvas, left, top, right - left, bottom - top,
        box.left + (left - source.left) * scaleX, box.top + (top - source.top) * scaleY,
        (right - left) * scaleX, (bottom - top) * scaleY);
    }
    this.live.hidden = false;
    performance.measure('quillmere-live', { start: this.liveSince });
    this.liveSince = null;
  }

  drawGuides(guides) {
    const lines = [...guides.x.map((at) => ['x', at]), ...guides.y.map((at) => ['y', at])];
    while (this.guides.children.length < lines.length) {
      this.guides.append(document.createElement('span'));
    }
    const scale = this.scale();
    [...this.guides.children].forEach((guide, index) => {
      guide.hidden = index >= lines.length;
      if (guide.hidden) {
        return;
      }
      const [axis, at] = lines[index];
      guide.className = axis === 'x' ? 'guide vertical' : 'guide horizontal';
      guide.dataset.axis = axis;
      guide.dataset.at = String(at);
      guide.style.left = axis === 'x' ? `${at * scale}px` : '';
      guide.style.top = axis === 'y' ? `${at * scale}px` : '';
    });
  }

  drawOutline(mask) {
    if (!mask || !this.width) {
      this.outline.hidden = true;
      return;
    }
    const scale = this.scale();
    const box = ordered(mask);
    this.outline.hidden = false;
    this.outline.style.left = `${box.left * scale}px`;
    this.outline.style.top = `${box.top * scale}px`;
    this.outline.style.width = `${(box.right - box.left) * scale}px`;
    this.outline.style.height = `${(box.bottom - box.top) * scale}px`;
  }
}
