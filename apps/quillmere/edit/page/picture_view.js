// The picture and the mask drawn over it, edited with the pointer.
//
// A press outside the mask draws a new one from that point; inside, it
// moves the mask; on an edge or a corner, it moves that edge or corner.
// While dragging, only the outline follows the pointer, drawn within the
// picture's box; the released rectangle goes to the runner, which orders
// its corners and cuts a drawn or resized one back to the picture. A moved
// mask keeps its size, even partly off the picture.
//
// Pointer positions map to picture pixels through the picture's displayed
// box, whatever the zoom and the screen's pixel ratio: a corner lies on the
// pixel edge nearest to the pointer.

const LEFT = 1;
const TOP = 2;
const RIGHT = 4;
const BOTTOM = 8;

// How near (in CSS pixels) a press must be to an edge to take hold of it.
const GRIP_REACH = 6;

const CURSORS = new Map([
  [LEFT, 'ew-resize'], [RIGHT, 'ew-resize'], [TOP, 'ns-resize'], [BOTTOM, 'ns-resize'],
  [LEFT | TOP, 'nwse-resize'], [RIGHT | BOTTOM, 'nwse-resize'],
  [RIGHT | TOP, 'nesw-resize'], [LEFT | BOTTOM, 'nesw-resize'],
]);

function ordered(mask) {
  return {
    left: Math.min(mask.left, mask.right),
    top: Math.min(mask.top, mask.bottom),
    right: Math.max(mask.left, mask.right),
    bottom: Math.max(mask.top, mask.bottom),
  };
}

function sameMask(a, b) {
  return a.left === b.left && a.top === b.top && a.right === b.right && a.bottom === b.bottom;
}

export class PictureView {
  // onDrag(mask): the rectangle while dragging, unsettled.
  // onRelease(mask, moved): the rectangle let go, when it differs from the
  // mask; `moved` when the mask was moved whole.
  constructor({ canvas, stage, scroller, outline, onDrag, onRelease }) {
    this.canvas = canvas;
    this.stage = stage;
    this.scroller = scroller;
    this.outline = outline;
    this.onDrag = onDrag;
    this.onRelease = onRelease;
    this.width = 0;
    this.height = 0;
    this.zoom = 'fit';
    this.heightPerWidth = 1;
    this.keepAspect = false;
    this.mask = null;
    this.drag = null;
    this.context = canvas.getContext('2d');

    stage.addEventListener('pointerdown', (event) => this.press(event));
    stage.addEventListener('pointermove', (event) => this.move(event));
    stage.addEventListener('pointerup', (event) => this.release(event));
    stage.addEventListener('pointercancel', () => this.abandon());
    window.addEventListener('resize', () => this.layOut());
  }

  setPictureSize(width, height) {
    this.width = width;
    this.height = height;
    this.canvas.width = width;
    this.canvas.height = height;
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

  setZoom(zoom) {
    this.zoom = zoom;
    this.layOut();
  }

  // The settled mask, as the runner holds it.
  setMask(mask) {
    this.mask = { ...mask };
    if (!this.drag) {
      this.drawOutline(this.mask);
    }
  }

  // A whole picture, or a part of one at (x, y) over the picture shown.
  show(bitmap, x = 0, y = 0) {
    this.context.drawImage(bitmap, x, y);
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
      zoom = Math.max(0.05, Math.min(roomWide / this.width, roomHigh / this.height));
    }
    this.canvas.style.width = `${this.width * zoom}px`;
    this.canvas.style.height = `${this.height * zoom}px`;
    if (this.mask) {
      this.drawOutline(this.drag ? this.drag.current : this.mask);
    }
  }

  // The pointer's position in picture pixels, not rounded.
  pointOf(event) {
    const box = this.canvas.getBoundingClientRect();
    return {
      x: ((event.clientX - box.left) * this.width) / box.width,
      y: ((event.clientY - box.top) * this.height) / box.height,
    };
  }

  // Which edges of the mask a press at `point` takes hold of; 0 for none.
  gripAt(point) {
    if (!this.mask) {
      return 0;
    }
    const mask = ordered(this.mask);
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
    const mask = ordered(this.mask);
    return point.x >= mask.left && point.x < mask.right && point.y >= mask.top &&
      point.y < mask.bottom;
  }

  press(event) {
    if (event.button !== 0 || !this.width || !this.mask) {
      return;
    }
    event.preventDefault();
    // The press takes no focus (default prevented), so a field still being
    // typed in would go on showing its text over the mask dragged; let it
    // go, as a press anywhere else does.
    if (document.activeElement instanceof HTMLElement) {
      document.activeElement.blur();
    }
    this.stage.setPointerCapture(event.pointerId);
    const point = this.pointOf(event);
    const grip = this.gripAt(point);
    let kind = 'draw';
    if (grip) {
      kind = 'resize';
    } else if (this.contains(point)) {
      kind = 'move';
    }
    const start = ordered(this.mask);
    this.drag = { kind, grip, point, start, current: start };
    this.outline.classList.add('dragging');
  }

  move(event) {
    const point = this.pointOf(event);
    if (!this.drag) {
      this.stage.style.cursor = this.cursorAt(point);
      return;
    }
    this.drag.current = this.dragged(point);
    this.drawOutline(this.drag.current);
    this.onDrag(this.drag.current);
  }

  release(event) {
    if (!this.drag) {
      return;
    }
    const drag = this.drag;
    const released = this.dragged(this.pointOf(event));
    this.drag = null;
    this.outline.classList.remove('dragging');
    const empty = released.left === released.right || released.top === released.bottom;
    if ((drag.kind === 'draw' && empty) || sameMask(ordered(released), drag.start)) {
      // A click, or a drag that came back where it began: nothing changes.
      this.drawOutline(this.mask);
      this.onDrag(this.mask);
      return;
    }
    this.drawOutline(released);
    this.onRelease(released, drag.kind === 'move');
  }

  abandon() {
    this.drag = null;
    this.outline.classList.remove('dragging');
    if (this.mask) {
      this.drawOutline(this.mask);
      this.onDrag(this.mask);
    }
  }

  // The rectangle the drag gives with the pointer at `point`.
  dragged(point) {
    const drag = this.drag;
    const x = Math.round(point.x);
    const y = Math.round(point.y);
    if (drag.kind === 'draw') {
      const anchorX = Math.round(drag.point.x);
      const anchorY = Math.round(drag.point.y);
      // As the plug-in draws: the width follows the pointer, the height the
      // overlay's aspect (a drag to the left also goes up).
      const bottom = this.keepAspect
        ? anchorY + Math.trunc((x - anchorX) * this.heightPerWidth) : y;
      return { left: anchorX, top: anchorY, right: x, bottom };
    }
    const start = drag.start;
    if (drag.kind === 'move') {
      const dx = Math.round(point.x - drag.point.x);
      const dy = Math.round(point.y - drag.point.y);
      return {
        left: start.left + dx, top: start.top + dy,
        right: start.right + dx, bottom: start.bottom + dy,
      };
    }
    const rect = { ...start };
    if (drag.grip & LEFT) rect.left = x;
    if (drag.grip & RIGHT) rect.right = x;
    if (drag.grip & TOP) rect.top = y;
    if (drag.grip & BOTTOM) rect.bottom = y;
    const corner = (drag.grip & (LEFT | RIGHT)) && (drag.grip & (TOP | BOTTOM));
    if (this.keepAspect && corner) {
      // The corner opposite stays; the height follows the width.
      const height = Math.trunc(Math.abs(rect.right - rect.left) * this.heightPerWidth);
      if (drag.grip & BOTTOM) {
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
