// The page's rule for a mask let go after a drag: whichever way it went,
// its corners are put in order. A mask drawn or resized is cut back to the
// picture on every side, since the edges dragged past it were meant to lie
// on it; a mask moved keeps its size, which a fitted overlay is scaled to,
// and may lie partly off the picture as typed corners may. (The plug-in's
// preview editor keeps its own Draw and Move rules.)
#pragma once

#include "apps/quillmere/plan/placement.h"

enum class MaskDrag { Drawn, Moved };

MaskCorners SettleReleasedMask(const MaskCorners& dragged, MaskDrag drag, int pictureWidth,
                               int pictureHeight);
