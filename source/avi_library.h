// The seam through which the module reaches an AVI file library.
//
// It offers exactly the library operations the module uses, with the
// library's own meaning: open a file by path, get its first video stream,
// the stream's start, format size and format, a decompressing frame reader,
// a frame by number, and the stream's length in frames. Frames are packed
// device-independent bitmaps: a BITMAPINFOHEADER, then (for 8 bits or fewer,
// or BI_BITFIELDS) a colour table or masks, then the bits, rows bottom-up for
// a positive height and padded to 4 bytes. A frame record belongs to its
// reader and stays valid until the next fetch from the same reader.
//
// Backends: the Windows AVI file library in the 32-bit module, FFmpeg in
// native builds, and test doubles. The module never initialises or shuts
// down the library; the host process does.
#pragma once

#include <cstdint>

#include "host/win_types.h"

#ifdef _WIN32
#include <vfw.h>
using AviFileHandle = PAVIFILE;
using AviStreamHandle = PAVISTREAM;
using FrameGetterHandle = PGETFRAME;
#else
struct AviFileObject;
struct AviStreamObject;
struct FrameGetterObject;
using AviFileHandle = AviFileObject*;
using AviStreamHandle = AviStreamObject*;
using FrameGetterHandle = FrameGetterObject*;
#endif

// Stream type of video streams ("vids" read as a little-endian word).
constexpr std::uint32_t kStreamTypeVideo = 0x73646976;
// Open mode: read only.
constexpr unsigned kAviOpenReadOnly = 0;

struct AviLibrary {
    // 0 on success; the new handle is written through `file`.
    long (*FileOpen)(AviFileHandle* file, const char* path, unsigned mode);
    // 0 on success; writes the stream handle (null when there is none).
    long (*FileGetStream)(AviFileHandle file, AviStreamHandle* stream, std::uint32_t type,
                          long number);
    long (*StreamStart)(AviStreamHandle stream);
    // 0 on success. With a null `format` stores the format's size in `size`.
    long (*StreamReadFormat)(AviStreamHandle stream, long position, void* format, long* size);
    // `wanted` null asks for the library's default decompressed format.
    FrameGetterHandle (*StreamGetFrameOpen)(AviStreamHandle stream, BITMAPINFOHEADER* wanted);
    // The frame record, or null outside the stream or for an undecodable frame.
    void* (*StreamGetFrame)(FrameGetterHandle reader, long position);
    long (*StreamLength)(AviStreamHandle stream);
    // Releases, used only when the module is unloaded.
    long (*GetFrameClose)(FrameGetterHandle reader);
    long (*StreamRelease)(AviStreamHandle stream);
    long (*FileRelease)(AviFileHandle file);
};

// The library the module uses: the platform's backend unless a test has put
// another one in place.
const AviLibrary& CurrentAviLibrary();
// Puts `library` in place (null restores the platform's backend); returns the
// one it replaces.
const AviLibrary* UseAviLibrary(const AviLibrary* library);
