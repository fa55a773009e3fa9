#include "source/overlay_source.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/filter_data.h"
#include "platform/chooser_requests.h"
#include "platform/window_system.h"
#include "source/avi_library.h"
#include "source/handle_registry.h"

namespace {

// Shared by every instance; empty when the module is loaded.
char g_chooserPath[kChooserPathLength];

// Byte offsets of width and height in a BITMAPINFOHEADER. Frame records are
// read by offset because the library promises only the header's layout, not
// its alignment.
constexpr std::size_t kHeaderWidthOffset = 4;
constexpr std::size_t kHeaderHeightOffset = 8;

std::int32_t ReadInt32At(const void* record, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

// Reads the stream's format in the library's two calls (size, then contents)
// only to prove that it can be read.
bool FormatIsReadable(const AviLibrary& library, AviStreamHandle stream) {
    long size = 0;
    if (library.StreamReadFormat(stream, library.StreamStart(stream), nullptr, &size) != 0) {
        return false;
    }
    // A format that claims no bytes or a negative size cannot be read into a block.
    if (size <= 0) {
        return false;
    }
    void* format = std::malloc(static_cast<std::size_t>(size));
    if (format == nullptr) {
        return false;
    }
    const bool read =
        library.StreamReadFormat(stream, library.StreamStart(stream), format, &size) == 0;
    std::free(format);
    return read;
}

}  // namespace

const char* ChooseOverlayFile(HWND owner, const char* initialPath) {
    if (initialPath != nullptr) {
        // Bounded: a longer path is cut, never written past the buffer.
        std::snprintf(g_chooserPath, sizeof g_chooserPath, "%s", initialPath);
    }

    OpenFileRequest request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = kOpenFileRequestClassicSize;
    request.hwndOwner = owner;
    request.lpstrFilter = kOverlayChooserFilter;
    request.nFilterIndex = kOverlayChooserFirstFilter;
    request.lpstrFile = g_chooserPath;
    request.nMaxFile = kChooserPathLength;
    request.lpstrTitle = kOverlayChooserTitle;
    request.Flags = kOverlayChooserFlags;

    if (CurrentWindowSystem().GetOpenFileName(&request) == 0) {
        return nullptr;
    }
    // The chooser promises a terminated path; a stand-in that filled the
    // whole buffer must not make the caller read past it.
    g_chooserPath[kChooserPathLength - 1] = '\0';
    return g_chooserPath;
}

void OpenOverlayFile(const char* path, FilterData& record) {
    const AviLibrary& library = CurrentAviLibrary();

    if (library.FileOpen(&record.aviFile, path, kAviOpenReadOnly) != 0) {
        return;
    }
    TrackAviFile(record.aviFile, library);

    // The library may leave a failed call's handle untouched; the stream
    // counts as missing unless the call succeeded and wrote one.
    record.aviStream = nullptr;
    if (library.FileGetStream(record.aviFile, &record.aviStream, kStreamTypeVideo, 0) != 0) {
        record.aviStream = nullptr;
    }
    if (record.aviStream == nullptr) {
        return;
    }
    TrackAviStream(record.aviStream, library);

    if (!FormatIsReadable(library, record.aviStream)) {
        return;
    }

    record.frameGetter = library.StreamGetFrameOpen(record.aviStream, nullptr);
    if (record.frameGetter != nullptr) {
        TrackFrameGetter(record.frameGetter, library);
        if (const void* frame = library.StreamGetFrame(record.frameGetter, 0)) {
            record.overlayWidth = ReadInt32At(frame, kHeaderWidthOffset);
            // A negative height only says that the rows are stored top-down
            // (the Windows library hands raw RGB files back that way); the
            // picture is as tall as its magnitude, which is what the dialog
            // shows and what Keep Aspect scales by.
            const std::int32_t height = ReadInt32At(frame, kHeaderHeightOffset);
            // An absurd INT32_MIN cannot be negated in 32 bits; it saturates.
            const std::int64_t magnitude = height < 0 ? -std::int64_t{height} : height;
            record.overlayHeight =
                static_cast<std::int32_t>(std::min<std::int64_t>(magnitude, INT32_MAX));
        }
    }

    record.overlayLength = static_cast<std::int32_t>(library.StreamLength(record.aviStream));

    WindowSystem& windows = CurrentWindowSystem();
    windows.SetControlUnsigned(record.dialogWindow, kOverlayLengthControl,
                               static_cast<unsigned>(record.overlayLength));
    char size[64];
    std::snprintf(size, sizeof size, "%d x %d", record.overlayWidth, record.overlayHeight);
    windows.SetControlText(record.dialogWindow, kOverlaySizeControl, size);
}
