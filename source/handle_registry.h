// One module-wide list of every handle the module opens: overlay files,
// streams, frame readers and the wrapper bitmaps of the start procedure.
//
// The host copies instance records as blocks without telling the module, so
// a handle in one record may be in use by a copy; none is released while the
// module runs. When the module is unloaded every tracked handle is released,
// newest first (a frame reader before its stream, a stream before its file).
//
// Each registration stands for one reference: a handle registered twice (a
// reference-counted library may hand out the same object twice) is released
// twice. Handles are released through the operations of the library that
// opened them, whatever library is current at release time.
#pragma once

#include <cstddef>

#include "host/vbitmap.h"
#include "source/avi_library.h"

void TrackAviFile(AviFileHandle file, const AviLibrary& library);
void TrackAviStream(AviStreamHandle stream, const AviLibrary& library);
void TrackFrameGetter(FrameGetterHandle reader, const AviLibrary& library);
void TrackBitmapObject(VBitmap* bitmap, void (*release)(VBitmap*));

// Releases every tracked handle, newest first, and empties the list.
void ReleaseTrackedHandles();

// Number of handles tracked and not yet released.
std::size_t TrackedHandleCount();
