// The page's rule for a mask let go after a drag: whichever way it was
// drawn, moved or resized, its corners are put in order and it is cut back
// to the picture on every side. (The plug-in's preview editor keeps its own
// Draw and Move rules.)
#pragma once

#include "apps/quillmere/plan/placement.h"

MaskCorners SettleReleasedMask(const MaskCorners& dragged, int pictureWidth, int pictureHeight);
