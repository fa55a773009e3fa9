// The mask's rectangle arithmetic, with no page behind it: a mask is
// {left, top, right, bottom} in picture pixels, its corners on pixel edges,
// so that it draws right - left columns and bottom - top rows.

// The edges a drag takes hold of, combined for a corner.
export const LEFT = 1;
export const TOP = 2;
export const RIGHT = 4;
export const BOTTOM = 8;

export function ordered(mask) {
  return {
    left: Math.min(mask.left, mask.right),
    top: Math.min(mask.top, mask.bottom),
    right: Math.max(mask.left, mask.right),
    bottom: Math.max(mask.top, mask.bottom),
  };
}

export function sameMask(a, b) {
  return a.left === b.left && a.top === b.top && a.right === b.right && a.bottom === b.bottom;
}

export function shifted(mask, dx, dy) {
  return { left: mask.left + dx, top: mask.top + dy, right: mask.right + dx, bottom: mask.bottom + dy };
}

// X, Y, W, H as the fields show them: the drawn size.
export function boxOf(mask) {
  const box = ordered(mask);
  return { x: box.left, y: box.top, width: box.right - box.left, height: box.bottom - box.top };
}

export function maskOf({ x, y, width, height }) {
  return { left: x, top: y, right: x + width, bottom: y + height };
}

// A mask of `width` x `height` about the same centre (the half pixel an odd
// change leaves goes to the right and the bottom).
export function resizedAboutCentre(mask, width, height) {
  const box = ordered(mask);
  const left = box.left + Math.floor((box.right - box.left - width) / 2);
  const top = box.top + Math.floor((box.bottom - box.top - height) / 2);
  return { left, top, right: left + width, bottom: top + height };
}

// The overlay's own size in the main's pixels: its pixels one for one,
// widened or narrowed only where the two sample aspects differ.
export function nativeSize(overlay, main) {
  const [overlayNum, overlayDen] = overlay.sampleAspect;
  const [mainNum, mainDen] = main.sampleAspect;
  const width = Math.round((overlay.width * overlayNum * mainDen) / (overlayDen * mainNum));
  return { width: Math.max(1, width), height: overlay.height };
}

// The rectangle a drag from `anchor` to `point` gives with its height over
// width kept at `ratio`: the side the pointer went further along leads, and
// the rectangle lies on the pointer's side of the anchor.
export function cornerWithAspect(anchor, point, ratio) {
  const dx = point.x - anchor.x;
  const dy = point.y - anchor.y;
  let width = Math.abs(dx);
  let height = Math.abs(dy);
  if (width * ratio >= height) {
    height = Math.round(width * ratio);
  } else {
    width = Math.round(height / ratio);
  }
  const right = anchor.x + (dx < 0 ? -width : width);
  const bottom = anchor.y + (dy < 0 ? -height : height);
  return ordered({ left: anchor.x, top: anchor.y, right, bottom });
}

// A resize of `start` (ordered) holding `grip`, with the pointer's edges at
// x and y, its height over width kept at `ratio`. From a corner the opposite
// corner stays; from an edge the opposite edge stays and the other side
// grows or shrinks about its middle.
export function resizedWithAspect(start, grip, x, y, ratio) {
  const horizontal = grip & (LEFT | RIGHT);
  const vertical = grip & (TOP | BOTTOM);
  if (horizontal && vertical) {
    const anchor = { x: grip & LEFT ? start.right : start.left, y: grip & TOP ? start.bottom : start.top };
    return cornerWithAspect(anchor, { x, y }, ratio);
  }
  if (horizontal) {
    const fixed = grip & LEFT ? start.right : start.left;
    const width = Math.abs(x - fixed);
    const height = Math.round(width * ratio);
    const top = start.top + Math.floor((start.bottom - start.top - height) / 2);
    return ordered({ left: fixed, top, right: x, bottom: top + height });
  }
  const fixed = grip & TOP ? start.bottom : start.top;
  const height = Math.abs(y - fixed);
  const width = Math.round(height / ratio);
  const left = start.left + Math.floor((start.right - start.left - width) / 2);
  return ordered({ left, top: fixed, right: left + width, bottom: y });
}

// Where a view of `viewWidth` x `viewHeight` scrolled to (scrollLeft,
// scrollTop) scrolls to show `box` (in the same units) with `margin` around
// it, moving as little as it can; a box larger than the view shows its
// top-left part.
export function scrollToShow(scroll, viewWidth, viewHeight, box, margin) {
  const along = (start, size, low, high) => {
    if (low - margin < start || high - low + 2 * margin > size) {
      return Math.max(0, low - margin);
    }
    if (high + margin > start + size) {
      return high + margin - size;
    }
    return start;
  };
  return {
    left: along(scroll.left, viewWidth, box.left, box.right),
    top: along(scroll.top, viewHeight, box.top, box.bottom),
  };
}

// The scroll that keeps the picture point under `pointer` (in the view's
// own pixels) under it when the scale changes to `scale`.
export function scrollForZoom(point, pointer, scale) {
  return { left: point.x * scale - pointer.x, top: point.y * scale - pointer.y };
}
