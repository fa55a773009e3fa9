// Native backend of the AVI file library seam (FFmpeg). Until the decoder
// lands every open fails, which the module treats as an unreadable file.
#include "source/platform_avi_library.h"

namespace {

long FileOpen(AviFileHandle*, const char*, unsigned) { return -1; }
long FileGetStream(AviFileHandle, AviStreamHandle* stream, std::uint32_t, long) {
    *stream = nullptr;
    return -1;
}
long StreamStart(AviStreamHandle) { return 0; }
long StreamReadFormat(AviStreamHandle, long, void*, long*) { return -1; }
FrameGetterHandle StreamGetFrameOpen(AviStreamHandle, BITMAPINFOHEADER*) { return nullptr; }
void* StreamGetFrame(FrameGetterHandle, long) { return nullptr; }
long StreamLength(AviStreamHandle) { return 0; }
long GetFrameClose(FrameGetterHandle) { return 0; }
long StreamRelease(AviStreamHandle) { return 0; }
long FileRelease(AviFileHandle) { return 0; }

const AviLibrary kNativeAviLibrary = {
    &FileOpen,       &FileGetStream, &StreamStart,   &StreamReadFormat, &StreamGetFrameOpen,
    &StreamGetFrame, &StreamLength,  &GetFrameClose, &StreamRelease,    &FileRelease,
};

}  // namespace

const AviLibrary& PlatformAviLibrary() { return kNativeAviLibrary; }
