// The Windows AVI file library itself (avifil32). The host process has
// initialised it; the module never calls AVIFileInit or AVIFileExit.
#include "source/platform_avi_library.h"

namespace {

long FileOpen(AviFileHandle* file, const char* path, unsigned mode) {
    return AVIFileOpenA(file, path, mode, nullptr);
}

long FileGetStream(AviFileHandle file, AviStreamHandle* stream, std::uint32_t type,
                   long number) {
    return AVIFileGetStream(file, stream, type, number);
}

long StreamStart(AviStreamHandle stream) { return AVIStreamStart(stream); }

long StreamReadFormat(AviStreamHandle stream, long position, void* format, long* size) {
    return AVIStreamReadFormat(stream, position, format, size);
}

FrameGetterHandle StreamGetFrameOpen(AviStreamHandle stream, BITMAPINFOHEADER* wanted) {
    return AVIStreamGetFrameOpen(stream, wanted);
}

void* StreamGetFrame(FrameGetterHandle reader, long position) {
    return AVIStreamGetFrame(reader, position);
}

long StreamLength(AviStreamHandle stream) { return AVIStreamLength(stream); }

long GetFrameClose(FrameGetterHandle reader) { return AVIStreamGetFrameClose(reader); }

long StreamRelease(AviStreamHandle stream) { return AVIStreamRelease(stream); }

long FileRelease(AviFileHandle file) { return AVIFileRelease(file); }

const AviLibrary kWindowsAviLibrary = {
    &FileOpen,     &FileGetStream, &StreamStart,   &StreamReadFormat, &StreamGetFrameOpen,
    &StreamGetFrame, &StreamLength, &GetFrameClose, &StreamRelease,   &FileRelease,
};

}  // namespace

const AviLibrary& PlatformAviLibrary() { return kWindowsAviLibrary; }
