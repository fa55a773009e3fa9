// Short video clips for the overlay source tests, made at run time with the
// ffmpeg program. Every frame carries its own number as a row of black and
// white blocks, readable back through lossy codecs, over a picture that
// changes from frame to frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/source/frame_numbers.h"

struct ClipKind {
    const char* name;       // also the file name, with the extension
    const char* extension;  // ".avi", ".mp4", ...
    const char* encoding;   // ffmpeg output options
    bool withAlpha;         // the source frames carry a varying alpha channel
    bool lossless;          // decoded pixels equal the source pixels exactly
};

// The clips that every format test runs over.
const std::vector<ClipKind>& AllClipKinds();
const ClipKind& ClipKindNamed(const std::string& name);

constexpr int kClipWidth = 160;
constexpr int kClipHeight = 120;
constexpr int kClipFrames = 40;

// The source picture of frame `number`, top-down, `bytesPerPixel` 3 (BGR) or
// 4 (BGRA), rows packed.
std::vector<std::uint8_t> SourcePicture(int number, int width, int height, int bytesPerPixel);

// A scratch folder for the test program's run, removed at exit.
const std::string& ScratchFolder();

// The clip of `kind`, made on first use: `frames` frames of `width` x
// `height`. Aborts the test program when ffmpeg fails.
std::string ClipPath(const ClipKind& kind, int width = kClipWidth, int height = kClipHeight,
                     int frames = kClipFrames);

// Makes a clip of `kind` at `path`.
void MakeClip(const ClipKind& kind, const std::string& path, int width, int height, int frames);

// Writes `bytes` to a new file in the scratch folder.
std::string WriteScratchFile(const std::string& name, const std::string& bytes);
std::string ReadFile(const std::string& path);

// The MJPEG clip with the data of frame `damagedFrame` zeroed in place.
std::string CorruptedMjpegClip(long damagedFrame);
