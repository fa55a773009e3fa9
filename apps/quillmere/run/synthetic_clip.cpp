#include "apps/quillmere/run/synthetic_clip.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// Digits 0-9 on a 3 x 5 grid, one row per entry, bit 2 the left column.
constexpr std::uint8_t kDigitRows[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr int kDigitColumns = 3;
constexpr int kDigitRowCount = 5;

// Pixels: blue in the low byte.
constexpr std::uint32_t Rgb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return (red << 16) | (green << 8) | blue;
}

void FillRect(Picture& picture, int x, int y, int w, int h, std::uint32_t color) {
    for (int row = y < 0 ? 0 : y; row < y + h && row < picture.height; ++row) {
        auto* pixels = reinterpret_cast<std::uint32_t*>(picture.row(row));
        for (int column = x < 0 ? 0 : x; column < x + w && column < picture.width; ++column) {
            pixels[column] = color;
        }
    }
}

void DrawLandscape(Picture& picture, long frame) {
    const int width = picture.width;
    const int height = picture.height;
    for (int y = 0; y < height; ++y) {
        auto* pixels = reinterpret_cast<std::uint32_t*>(picture.row(y));
        const std::uint32_t green = 60 + (y * 120) / height;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t band = static_cast<std::uint32_t>(x + y + frame * 4) & 255;
            const std::uint32_t red = band < 128 ? band : 255 - band;
            pixels[x] = Rgb(40 + red, green, 200 - red);
        }
    }
    // A disc bouncing between the edges.
    const int radius = height / 8;
    const int span = width - 2 * radius;
    const int phase = static_cast<int>((frame * 6) % (2 * span));
    const int centreX = radius + (phase < span ? phase : 2 * span - phase);
    const int centreY = height / 2 + static_cast<int>((frame * 3) % (height / 4)) - height / 8;
    for (int y = centreY - radius; y <= centreY + radius; ++y) {
        if (y < 0 || y >= height) {
            continue;
        }
        auto* pixels = reinterpret_cast<std::uint32_t*>(picture.row(y));
        for (int x = centreX - radius; x <= centreX + radius; ++x) {
            const int dx = x - centreX;
            const int dy = y - centreY;
            if (x >= 0 && x < width && dx * dx + dy * dy <= radius * radius) {
                pixels[x] = Rgb(250, 210, 40);
            }
        }
    }
}

void DrawChecker(Picture& picture, long frame) {
    const int cell = picture.height / 6 > 0 ? picture.height / 6 : 1;
    constexpr std::uint32_t kColors[4] = {Rgb(220, 40, 60), Rgb(30, 30, 40), Rgb(40, 170, 230),
                                          Rgb(245, 245, 235)};
    for (int y = 0; y < picture.height; ++y) {
        auto* pixels = reinterpret_cast<std::uint32_t*>(picture.row(y));
        const int cellY = (y + static_cast<int>(frame) * 2) / cell;
        for (int x = 0; x < picture.width; ++x) {
            const int cellX = (x + static_cast<int>(frame) * 3) / cell;
            pixels[x] = kColors[((cellX + cellY) & 1) + 2 * ((cellY / 2) & 1)];
        }
    }
}

}  // namespace

void DrawNumber(Picture& picture, long number, int x, int y, int scale, std::uint32_t color) {
    const std::string digits = std::to_string(number);
    for (std::size_t index = 0; index < digits.size(); ++index) {
        const int digit = digits[index] - '0';
        const int left = x + static_cast<int>(index) * (kDigitColumns + 1) * scale;
        for (int row = 0; row < kDigitRowCount; ++row) {
            for (int column = 0; column < kDigitColumns; ++column) {
                if (kDigitRows[digit][row] & (1 << (kDigitColumns - 1 - column))) {
                    FillRect(picture, left + column * scale, y + row * scale, scale, scale,
                             color);
                }
            }
        }
    }
}

SyntheticClip::SyntheticClip(int width, int height, std::int64_t frameCount,
                             AVRational frameRate, ClipPattern pattern)
    : width_(width), height_(height), frameCount_(frameCount), pattern_(pattern),
      picture_(width, height) {
    format_.width = width;
    format_.height = height;
    format_.pixelFormat = AV_PIX_FMT_BGR0;
    format_.colorspace = AVCOL_SPC_RGB;
    format_.range = AVCOL_RANGE_JPEG;
    format_.frameRate = frameRate;
    format_.timeBase = av_inv_q(frameRate);
}

bool SyntheticClip::Next(AVFrame& frame, long& number) {
    if (next_ >= frameCount_) {
        return false;
    }
    Draw(next_, picture_);
    frame.format = format_.pixelFormat;
    frame.width = width_;
    frame.height = height_;
    if (av_frame_get_buffer(&frame, 0) < 0) {
        throw std::bad_alloc();
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
    for (int y = 0; y < height_; ++y) {
        std::memcpy(frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0],
                    picture_.row(y), rowBytes);
    }
    frame.colorspace = format_.colorspace;
    frame.color_range = format_.range;
    frame.pts = next_;
    frame.best_effort_timestamp = next_;
    number = next_++;
    return true;
}

void SyntheticClip::Draw(long frameNumber, Picture& picture) const {
    if (pattern_ == ClipPattern::Landscape) {
        DrawLandscape(picture, frameNumber);
    } else {
        DrawChecker(picture, frameNumber);
    }
    const int scale = height_ / 40 > 1 ? height_ / 40 : 1;
    const int margin = 2 * scale;
    const int digits = static_cast<int>(std::to_string(frameNumber).size());
    FillRect(picture, margin - scale, margin - scale,
             digits * (kDigitColumns + 1) * scale + scale, (kDigitRowCount + 2) * scale,
             Rgb(0, 0, 0));
    DrawNumber(picture, frameNumber, margin, margin, scale, Rgb(255, 255, 255));
}
