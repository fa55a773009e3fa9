// Where a dragged mask snaps: the frame's edges, its centre lines and the
// action-safe margins, along each axis. No page behind it: lines and
// rectangles are in picture pixels, the reach too.

// The action-safe area leaves this share of the frame's width (and height)
// on each side.
export const ACTION_SAFE_MARGIN = 0.05;

// The lines along one axis of a frame `length` pixels long.
export function snapLines(length) {
  const margin = Math.round(length * ACTION_SAFE_MARGIN);
  return [0, margin, length / 2, length - margin, length];
}

// The nearest of `lines` to any of `values` within `reach`: the whole
// shift that brings the value onto the line (a centre between pixels goes
// to the nearest pixel edge), or null.
export function nearestSnap(values, lines, reach) {
  let best = null;
  for (const value of values) {
    for (const line of lines) {
      const distance = Math.abs(line - value);
      if (distance <= reach && (best === null || distance < best.distance)) {
        best = { distance, shift: Math.round(line - value) };
      }
    }
  }
  return best && best.shift;
}

function sides(mask, axis) {
  return axis === 'x'
    ? [mask.left, mask.right, (mask.left + mask.right) / 2]
    : [mask.top, mask.bottom, (mask.top + mask.bottom) / 2];
}

// The lines `mask` lies on along the axes in `axes` ({x, y}): its edges and
// its centre, within half a pixel (a centre between pixels lies on the
// frame's centre line between pixels, or half a pixel off).
export function guidesOn(mask, frame, axes) {
  const guides = { x: [], y: [] };
  for (const axis of ['x', 'y']) {
    if (!axes[axis]) {
      continue;
    }
    const lines = snapLines(axis === 'x' ? frame.width : frame.height);
    const values = sides(mask, axis);
    guides[axis] = lines.filter((line) => values.some((value) => Math.abs(line - value) <= 0.5));
  }
  return guides;
}

// A mask moved whole, snapped along each axis by its edges or its centre:
// the snapped mask and the guides to show.
export function snapMoved(mask, frame, reach) {
  const dx = nearestSnap(sides(mask, 'x'), snapLines(frame.width), reach);
  const dy = nearestSnap(sides(mask, 'y'), snapLines(frame.height), reach);
  const snapped = {
    left: mask.left + (dx ?? 0), top: mask.top + (dy ?? 0),
    right: mask.right + (dx ?? 0), bottom: mask.bottom + (dy ?? 0),
  };
  return { mask: snapped, guides: guidesOn(snapped, frame, { x: dx !== null, y: dy !== null }) };
}

// A pointer's whole-pixel position snapped along each axis it drives
// (`axes` {x, y}): the point and the axes that snapped.
export function snapPoint(point, frame, reach, axes) {
  const snapped = { ...point };
  const hit = { x: false, y: false };
  for (const axis of ['x', 'y']) {
    if (!axes[axis]) {
      continue;
    }
    const shift = nearestSnap([point[axis]], snapLines(axis === 'x' ? frame.width : frame.height),
      reach);
    if (shift !== null) {
      snapped[axis] = point[axis] + shift;
      hit[axis] = true;
    }
  }
  return { point: snapped, axes: hit };
}
