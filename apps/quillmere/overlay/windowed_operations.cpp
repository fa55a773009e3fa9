#include "apps/quillmere/overlay/windowed_operations.h"

#include <type_traits>

#include "hostkit/bitmap_operations.h"

namespace {

static_assert(std::is_standard_layout<WindowedOverlayOperations>::value,
              "the slots reach the window from the table's address");

const WindowedOverlayOperations& Of(const VBitmap* self) {
    return *reinterpret_cast<const WindowedOverlayOperations*>(self->operations);
}

// The output bitmap as the operations underneath know it.
VBitmap Underneath(const VBitmap* self) {
    VBitmap bitmap = *self;
    bitmap.operations = Of(self).underneath;
    return bitmap;
}

// A stretch of a whole window frame over the whole mask becomes a 1:1 lay
// of the window where it lies in the mask; any other is left as asked.
struct StretchArguments {
    long x1, y1, dx, dy;
    double x2, y2, dx1, dy1;
};

StretchArguments Placed(const WindowedOverlayOperations& operations, const VBitmap* source,
                        StretchArguments call) {
    const OutputWindow& window = operations.window;
    const bool wholeWindow = source != nullptr && source->w == window.width &&
                             source->h == window.height && call.x2 == 0.0 && call.y2 == 0.0 &&
                             call.dx1 == source->w && call.dy1 == source->h;
    if (!wholeWindow || call.dx != operations.maskWidth || call.dy != operations.maskHeight) {
        return call;
    }
    call.x1 += static_cast<long>(window.left);
    call.y1 += static_cast<long>(window.top);
    call.dx = static_cast<long>(window.width);
    call.dy = static_cast<long>(window.height);
    return call;
}

template <VBitmapOperations::Stretch VBitmapOperations::*kSlot>
bool HOST_THISCALL StretchWindow(const VBitmap* self, long x1, long y1, long dx, long dy,
                                 const VBitmap* source, double x2, double y2, double dx1,
                                 double dy1) {
    const VBitmap output = Underneath(self);
    const StretchArguments call =
        Placed(Of(self), source, StretchArguments{x1, y1, dx, dy, x2, y2, dx1, dy1});
    return (output.operations->*kSlot)(&output, call.x1, call.y1, call.dx, call.dy, source,
                                       call.x2, call.y2, call.dx1, call.dy1);
}

void HOST_THISCALL BitBltUnderneath(const VBitmap* self, long x2, long y2, const VBitmap* source,
                                    long x1, long y1, long dx, long dy) {
    const VBitmap output = Underneath(self);
    output.operations->BitBlt(&output, x2, y2, source, x1, y1, dx, dy);
}

bool HOST_THISCALL RectFillUnderneath(const VBitmap* self, long x1, long y1, long dx, long dy,
                                      std::uint32_t pixel) {
    const VBitmap output = Underneath(self);
    return output.operations->RectFill(&output, x1, y1, dx, dy, pixel);
}

}  // namespace

WindowedOverlayOperations::WindowedOverlayOperations(const VBitmapOperations* underneathTable,
                                                     long maskWidthGiven, long maskHeightGiven,
                                                     const OutputWindow& windowGiven)
    : table(underneathTable != nullptr ? *underneathTable : HostBitmapOperations()),
      underneath(underneathTable != nullptr ? underneathTable : &HostBitmapOperations()),
      maskWidth(maskWidthGiven),
      maskHeight(maskHeightGiven),
      window(windowGiven) {
    // The slots that may find their settings through the output's table
    // (the blending ones do) get it as theirs.
    table.BitBlt = &BitBltUnderneath;
    table.RectFill = &RectFillUnderneath;
    table.StretchBltNearestFast = &StretchWindow<&VBitmapOperations::StretchBltNearestFast>;
    table.StretchBltBilinearFast = &StretchWindow<&VBitmapOperations::StretchBltBilinearFast>;
}
