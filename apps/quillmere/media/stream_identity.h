// A video stream scanned packet by packet (no decoding): its frame times,
// key frames and an identity that names its content, the same on every
// machine that reads the same file, wherever it lies and whatever its
// modification time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "source/ffmpeg_video_stream.h"

struct ScannedVideo {
    std::shared_ptr<const VideoStreamInfo> info;
    // SHA-256 over the file's size, the stream's codec, picture size and
    // time base, every frame time and every key frame with its packet's
    // fingerprint.
    std::string identity;
};

// Scans video stream `stream` of `path` (counted as --video-stream counts).
// Throws RunnerError naming the file when it cannot be read.
ScannedVideo ScanVideo(const std::string& path, long stream);

// The identity ScanVideo gives a stream scanned as `info` in a file of
// `fileSize` bytes: a scan kept elsewhere (a segments manifest) is
// identified alike without reading the file again.
std::string StreamIdentity(const VideoStreamInfo& info, std::int64_t fileSize);
