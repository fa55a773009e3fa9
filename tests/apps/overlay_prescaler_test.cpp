// The prescaler against libswscale's own scaling of the same pixels into
// packed pixels, worked out here: records of 24 and 32 bits, either row
// order, scaled up and down, with and without premultiplying, must come
// within one code value of it in every byte of every pixel. Asked for a
// window of the scaled picture, the record holds that window of the whole
// scale, wherever the window lies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "apps/quillmere/overlay/overlay_prescaler.h"
#include "host/win_types.h"

namespace {

struct PrescaleCase {
    const char* name;
    int bitCount;
    int width, height, scaledWidth, scaledHeight;
    bool topDown;
    bool premultiply;
    int flags;
    OutputWindow window;  // empty: the whole picture
};

void PrintTo(const PrescaleCase& test, std::ostream* os) { *os << test.name; }

const PrescaleCase kPrescaleCases[] = {
    {"LanczosUp32", 32, 64, 36, 96, 54, false, false, SWS_LANCZOS, {}},
    {"LanczosDown32TopDown", 32, 128, 72, 61, 33, true, false, SWS_LANCZOS, {}},
    {"BicubicUp24OddWidth", 24, 37, 21, 55, 31, false, false, SWS_BICUBIC, {}},
    {"AreaDown24", 24, 120, 80, 40, 26, false, false, SWS_AREA, {}},
    {"LanczosUp32Premultiplied", 32, 64, 36, 96, 54, false, true, SWS_LANCZOS, {}},
    // Windows: in a corner, in the middle of a scale whose steps fall on
    // whole source pixels every few outputs (the window starts inside it),
    // at the far edges, and downscaled with the chroma halved across.
    {"BicubicWindowTopLeft32", 32, 80, 60, 800, 600, false, false, SWS_BICUBIC, {0, 0, 96, 72}},
    {"LanczosWindowInside32", 32, 80, 60, 1280, 960, false, false, SWS_LANCZOS,
     {601, 517, 96, 72}},
    {"LanczosWindowFarCorner24TopDown", 24, 80, 60, 1000, 700, true, false, SWS_LANCZOS,
     {904, 628, 96, 72}},
    {"AreaWindowDown32Premultiplied", 32, 400, 300, 130, 97, false, true, SWS_AREA,
     {50, 40, 41, 37}},
    {"BicubicWindowOneRow32", 32, 80, 60, 1280, 960, false, false, SWS_BICUBIC,
     {300, 959, 200, 1}},
};

long RowBytes(int width, int bitCount) { return (width * bitCount / 8 + 3) & ~3L; }

class Prescale : public testing::TestWithParam<PrescaleCase> {};

TEST_P(Prescale, MatchesTheLibrarysPackedScaling) {
    const PrescaleCase& test = GetParam();
    const long sourceRow = RowBytes(test.width, test.bitCount);
    std::vector<std::uint8_t> record(sizeof(BITMAPINFOHEADER) +
                                     static_cast<std::size_t>(sourceRow * test.height));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = test.width;
    header.biHeight = test.topDown ? -test.height : test.height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(test.bitCount);
    header.biCompression = BI_RGB;
    std::memcpy(record.data(), &header, sizeof header);
    std::uint8_t* bits = record.data() + sizeof header;
    // Smooth gradients with noise, so that both over- and undershoot occur.
    std::mt19937 random(7);
    const int pixelBytes = test.bitCount / 8;
    for (int y = 0; y < test.height; ++y) {
        for (int x = 0; x < test.width; ++x) {
            std::uint8_t* pixel = bits + y * sourceRow + x * pixelBytes;
            for (int byte = 0; byte < pixelBytes; ++byte) {
                const int value = (x * 255 / test.width + y * (byte + 1) * 40) % 256;
                pixel[byte] = static_cast<std::uint8_t>(std::clamp<int>(
                    value + static_cast<int>(random() % 31) - 15, 0, 255));
            }
        }
    }

    // The expected picture: the same source rows (premultiplied as the
    // prescaler is documented to do) scaled by libswscale into packed pixels.
    std::vector<std::uint8_t> source(bits, bits + sourceRow * test.height);
    if (test.premultiply) {
        for (std::size_t i = 0; i < source.size(); i += 4) {
            for (int byte = 0; byte < 3; ++byte) {
                const unsigned product = source[i + byte] * source[i + 3] + 128u;
                source[i + byte] = static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
            }
        }
    }
    const AVPixelFormat packed = test.bitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
    SwsContext* library = sws_getContext(test.width, test.height, packed, test.scaledWidth,
                                         test.scaledHeight, packed, test.flags | SWS_ACCURATE_RND,
                                         nullptr, nullptr, nullptr);
    ASSERT_NE(library, nullptr);
    // Picture rows top first: a bottom-up record from its last stored row.
    const std::uint8_t* sourceTop =
        test.topDown ? source.data() : source.data() + sourceRow * (test.height - 1);
    const int sourceStride = static_cast<int>(test.topDown ? sourceRow : -sourceRow);
    const long row = RowBytes(test.scaledWidth, test.bitCount);
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(row * test.scaledHeight));
    std::uint8_t* expectedTop = expected.data() + row * (test.scaledHeight - 1);
    const int expectedStride = static_cast<int>(-row);
    sws_scale(library, &sourceTop, &sourceStride, 0, test.height, &expectedTop, &expectedStride);
    sws_freeContext(library);

    OverlayPrescaler prescaler(test.scaledWidth, test.scaledHeight, test.flags, test.premultiply,
                               test.window);
    const OutputWindow window = test.window.width > 0 ? test.window
                                : OutputWindow{0, 0, test.scaledWidth, test.scaledHeight};
    const int width = static_cast<int>(window.width);
    const int height = static_cast<int>(window.height);
    std::vector<std::uint8_t> scaled;
    // Twice: a window's scale is kept for the next frame.
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_TRUE(prescaler.Scale(record.data(), scaled));
    }
    BITMAPINFOHEADER scaledHeader;
    std::memcpy(&scaledHeader, scaled.data(), sizeof scaledHeader);
    EXPECT_EQ(scaledHeader.biWidth, width);
    EXPECT_EQ(scaledHeader.biHeight, height);
    EXPECT_EQ(scaledHeader.biBitCount, test.bitCount);
    const long scaledRow = RowBytes(width, test.bitCount);
    ASSERT_EQ(scaled.size(), sizeof scaledHeader + static_cast<std::size_t>(scaledRow * height));
    // Both bottom-up: picture row y of the window is picture row top + y of
    // the whole.
    const std::uint8_t* actual = scaled.data() + sizeof scaledHeader;
    int largest = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* actualRow = actual + (height - 1 - y) * scaledRow;
        const std::uint8_t* expectedRow =
            expected.data() + (test.scaledHeight - 1 - (window.top + y)) * row +
            window.left * pixelBytes;
        for (int i = 0; i < width * pixelBytes; ++i) {
            largest = std::max(largest, std::abs(actualRow[i] - expectedRow[i]));
        }
    }
    EXPECT_LE(largest, 1);
}

INSTANTIATE_TEST_SUITE_P(Table, Prescale, testing::ValuesIn(kPrescaleCases),
                         [](const testing::TestParamInfo<PrescaleCase>& info) {
                             return info.param.name;
                         });

}  // namespace
