#include "render/bitmap_objects.h"

#include <cstdlib>

FilterVTbls g_filterVTables = {nullptr};

VBitmap* NewBitmapObject() {
    auto* bitmap = static_cast<VBitmap*>(std::calloc(1, sizeof(VBitmap)));
    if (bitmap != nullptr) {
        bitmap->operations = g_filterVTables.pvtblVBitmap;
    }
    return bitmap;
}

void ReleaseBitmapObject(VBitmap* bitmap) { std::free(bitmap); }
