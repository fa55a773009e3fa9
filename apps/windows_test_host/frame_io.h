// Frames for the test host: the main video's frames read through the Windows
// AVI file library (or a generated test picture), and output frames written
// as 24-bit BMP files for the tests to read.
#pragma once

#include <memory>
#include <string>

#include "host/vbitmap.h"

// The frames of the main video, converted to 32 bits.
class MainVideo {
public:
    virtual ~MainVideo() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual long length() const = 0;
    // Draws frame `number` into `target` (32 bits, the video's size); false
    // when the frame cannot be had.
    virtual bool ReadFrame(long number, VBitmap& target) = 0;
};

// The first video stream of an AVI file; null (with a message on stderr) when
// it cannot be opened.
std::unique_ptr<MainVideo> OpenMainVideo(const std::string& path);
// `count` generated frames: a colour ramp, with the frame number in blue.
std::unique_ptr<MainVideo> GeneratedMainVideo(int width, int height, long count);

// Writes a 32-bit bitmap as a bottom-up 24-bit BMP; false on failure.
bool WriteBmp(const std::string& path, const VBitmap& bitmap);
