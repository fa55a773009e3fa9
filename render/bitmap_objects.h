// Bitmap objects that the module makes itself: a block of the host's VBitmap
// layout whose first word is the operation table received through
// InitVTables at module load.
#pragma once

#include "host/vbitmap.h"

// Filled by the host's InitVTables when the module is loaded.
extern FilterVTbls g_filterVTables;

// A new zero-filled bitmap object carrying the host's operation table, or
// null when no memory can be had. Release with ReleaseBitmapObject.
VBitmap* NewBitmapObject();
void ReleaseBitmapObject(VBitmap* bitmap);
