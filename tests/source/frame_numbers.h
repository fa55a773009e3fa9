// Frame numbers drawn into test clips: a row of black and white blocks
// across the top of the picture, one bit each, least significant first.
// Readable back through lossy codecs. Free of FFmpeg, so that the Windows
// test programs read numbers the same way.
#pragma once

constexpr int kNumberBits = 10;  // blocks across the top of the picture
constexpr int kNumberBlock = 16;

// The number shown in a frame record (BITMAPINFOHEADER, then bottom-up or
// top-down bits of 16, 24 or 32 bits per pixel); -1 when it is unreadable.
int NumberInRecord(const void* record);
