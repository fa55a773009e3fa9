// Native backend of the AVI file library seam, over FFmpeg's libraries. It
// opens whatever libavformat opens (AVI, and also MP4, MKV, MOV, ...), uses
// the first video stream, and hands out frames as the Windows library does:
// packed device-independent bitmaps, 24-bit BGR, or 32-bit when the source
// carries alpha or is 32-bit RGB.
//
// Handles are heap objects that share what they were opened from: releasing
// a file leaves its streams usable, releasing a stream leaves its readers
// usable, as reference counting does in the Windows library.
#include <cstring>
#include <memory>
#include <string>

#include "source/ffmpeg_frame_reader.h"
#include "source/ffmpeg_video_stream.h"
#include "source/ffmpeg_stream_info.h"
#include "source/platform_avi_library.h"

struct AviFileObject {
    std::string path;
    FormatContext context;  // held until the first video stream is learned
    std::shared_ptr<const VideoStreamInfo> firstVideo;
};

struct AviStreamObject {
    std::shared_ptr<const VideoStreamInfo> info;
};

struct FrameGetterObject {
    std::unique_ptr<FfmpegFrameReader> reader;
};

namespace {

// Results in the library's manner: 0 for success, a failure code otherwise.
constexpr long kSucceeded = 0;
constexpr long kFailed = -1;

long FileOpen(AviFileHandle* file, const char* path, unsigned mode) {
    *file = nullptr;
    if (path == nullptr || mode != kAviOpenReadOnly) {
        return kFailed;
    }
    FormatContext context = OpenMediaFile(path, true);
    if (context == nullptr) {
        return kFailed;
    }
    *file = new AviFileObject{path, std::move(context), nullptr};
    return kSucceeded;
}

long FileGetStream(AviFileHandle file, AviStreamHandle* stream, std::uint32_t type, long number) {
    *stream = nullptr;
    // Only the first video stream is offered (or the one a host of our own
    // chose): one pass over the packets learns it, and the module asks for
    // nothing else.
    if (file == nullptr || type != kStreamTypeVideo || number != 0) {
        return kFailed;
    }
    if (file->firstVideo == nullptr && file->context != nullptr) {
        file->firstVideo = ScanVideoStream(file->context.get(), file->path, OfferedVideoStream());
        file->context.reset();
    }
    if (file->firstVideo == nullptr) {
        return kFailed;
    }
    *stream = new AviStreamObject{file->firstVideo};
    return kSucceeded;
}

long StreamStart(AviStreamHandle) { return 0; }

long StreamReadFormat(AviStreamHandle stream, long position, void* format, long* size) {
    if (stream == nullptr || size == nullptr || position < 0) {
        return kFailed;
    }
    const long formatSize = sizeof(BITMAPINFOHEADER);
    if (format == nullptr) {
        *size = formatSize;
        return kSucceeded;
    }
    if (*size < formatSize) {
        return kFailed;
    }
    std::memcpy(format, &stream->info->format, formatSize);
    *size = formatSize;
    return kSucceeded;
}

FrameGetterHandle StreamGetFrameOpen(AviStreamHandle stream, BITMAPINFOHEADER* wanted) {
    // Only the library's default decompressed format is offered.
    if (stream == nullptr || wanted != nullptr) {
        return nullptr;
    }
    std::unique_ptr<FfmpegFrameReader> reader = FfmpegFrameReader::Open(stream->info);
    if (reader == nullptr) {
        return nullptr;
    }
    return new FrameGetterObject{std::move(reader)};
}

void* StreamGetFrame(FrameGetterHandle reader, long position) {
    return reader != nullptr ? reader->reader->Fetch(position) : nullptr;
}

long StreamLength(AviStreamHandle stream) {
    return stream != nullptr ? stream->info->length() : kFailed;
}

long GetFrameClose(FrameGetterHandle reader) {
    delete reader;
    return kSucceeded;
}

long StreamRelease(AviStreamHandle stream) {
    delete stream;
    return kSucceeded;
}

long FileRelease(AviFileHandle file) {
    delete file;
    return kSucceeded;
}

const AviLibrary kFfmpegAviLibrary = {
    &FileOpen,       &FileGetStream, &StreamStart,   &StreamReadFormat, &StreamGetFrameOpen,
    &StreamGetFrame, &StreamLength,  &GetFrameClose, &StreamRelease,    &FileRelease,
};

}  // namespace

const AviLibrary& PlatformAviLibrary() { return kFfmpegAviLibrary; }

bool FfmpegScaleFrames(FrameGetterHandle reader, int width, int height, int swsFlags) {
    return reader != nullptr && reader->reader->ScaleTo(width, height, swsFlags);
}

std::shared_ptr<const VideoStreamInfo> FfmpegStreamInfo(AviStreamHandle stream) {
    return stream != nullptr ? stream->info : nullptr;
}
