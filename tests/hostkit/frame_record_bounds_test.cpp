// Frame records whose header a damaged file or a careless host wrote: colour
// tables shorter than the depth can index, and headers whose size puts the
// table and the rows off 4-byte alignment. The sanitizer round of the suite
// turns any read past the record or misaligned access into a failure; the
// expectations here check the pixels that come out.
#include "hostkit/bitmap_operations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const VBitmapOperations& ops = HostBitmapOperations();

constexpr Pixel32 kColourBits = 0x00FFFFFF;

// A packed frame record (header, colour table, rows) in a block of exactly
// its own size, so that any byte read past it is outside the allocation.
struct FrameRecord {
    FrameRecord(int width, int height, int depth, std::uint32_t headerSize,
                std::uint32_t colours, std::uint32_t seed)
        : width(width), height(height), depth(depth), headerSize(headerSize) {
        tableEntries = depth <= 8 ? (colours != 0 ? colours : 1u << depth) : 0;
        rowBytes = ((static_cast<std::size_t>(width) * depth + 31) / 32) * 4;
        bytes.resize(headerSize + tableEntries * 4 + rowBytes * height);
        BITMAPINFOHEADER header{};
        header.biSize = headerSize;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = static_cast<WORD>(depth);
        header.biClrUsed = colours;
        std::memcpy(bytes.data(), &header, sizeof header);
        std::mt19937 random(seed);
        for (std::size_t i = sizeof header; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(random());
        }
    }
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()); }
    std::uint8_t* table() { return bytes.data() + headerSize; }
    std::uint8_t* rows() { return table() + tableEntries * 4; }
    VBitmap Bitmap() {
        VBitmap bitmap{};
        bitmap.operations = &ops;
        ops.initFromHeader(&bitmap, rows(), header());
        return bitmap;
    }
    // Pixel (x, y) from the top, worked out from the bytes as the format
    // defines them: bottom-up rows, leftmost pixel in the high bits.
    Pixel32 Expected(int x, int y) {
        const std::uint8_t* row = rows() + rowBytes * static_cast<std::size_t>(height - 1 - y);
        if (depth == 32) {
            Pixel32 pixel;
            std::memcpy(&pixel, row + 4 * x, 4);
            return pixel;
        }
        if (depth == 24) {
            return row[3 * x] | (row[3 * x + 1] << 8) | (Pixel32(row[3 * x + 2]) << 16);
        }
        const std::size_t bit = static_cast<std::size_t>(x) * depth;
        const unsigned index = (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
        if (index >= tableEntries) {
            return 0;
        }
        Pixel32 colour;
        std::memcpy(&colour, table() + 4 * index, 4);
        return colour & kColourBits;
    }

    int width, height, depth;
    std::uint32_t headerSize;
    std::uint32_t tableEntries = 0;
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> bytes;
};

std::vector<Pixel32> ConvertedTo32(FrameRecord& record) {
    std::vector<Pixel32> out(static_cast<std::size_t>(record.width) * record.height, 0xDEADBEEF);
    const VBitmap target = MakeBitmap32(out.data(), record.width, record.height, 4L * record.width);
    const VBitmap source = record.Bitmap();
    ops.BitBlt(&target, 0, 0, &source, 0, 0, -1, -1);
    // Rows of MakeBitmap32 are bottom-up: picture row y is out row h - 1 - y.
    std::vector<Pixel32> picture;
    for (int y = 0; y < record.height; ++y) {
        const std::size_t stored = static_cast<std::size_t>(record.height - 1 - y);
        const Pixel32* row = out.data() + stored * record.width;
        picture.insert(picture.end(), row, row + record.width);
    }
    return picture;
}

std::vector<Pixel32> ExpectedPicture(FrameRecord& record) {
    std::vector<Pixel32> picture;
    for (int y = 0; y < record.height; ++y) {
        for (int x = 0; x < record.width; ++x) {
            picture.push_back(record.Expected(x, y));
        }
    }
    return picture;
}

struct RecordCase {
    const char* name;
    int width, height, depth;
    std::uint32_t headerSize;
    std::uint32_t colours;  // biClrUsed
};

void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }

class FrameRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(FrameRecordTest, ConvertsWithinTheRecordAndIndicesPastTheTableGiveBlack) {
    const RecordCase& c = GetParam();
    FrameRecord record(c.width, c.height, c.depth, c.headerSize, c.colours, 7);
    EXPECT_EQ(ConvertedTo32(record), ExpectedPicture(record));
}

const RecordCase kRecords[] = {
    // The record as found: 8-bit 4x1, 2 colours, 52 bytes, indices up to 255.
    {"EightBitsTwoColours", 4, 1, 8, 40, 2},
    {"EightBitsOneColour", 33, 5, 8, 40, 1},
    {"FourBitsThreeColours", 9, 4, 4, 40, 3},
    {"TwoBitsTwoColours", 7, 3, 2, 40, 2},
    {"OneBitOneColour", 17, 2, 1, 40, 1},
    {"EightBitsFullTableDeclaredAsZero", 6, 3, 8, 40, 0},
    {"EightBitsMoreColoursThanIndices", 6, 3, 1, 40, 5},
    // Headers whose size is no multiple of 4 put the table and rows off alignment.
    {"EightBitsHeaderOf41", 5, 3, 8, 41, 0},
    {"FourBitsHeaderOf42ShortTable", 5, 3, 4, 42, 6},
    {"ThirtyTwoBitsHeaderOf43", 5, 3, 32, 43, 0},
    {"TwentyFourBitsHeaderOf45", 5, 3, 24, 45, 0},
};

INSTANTIATE_TEST_SUITE_P(Records, FrameRecordTest, ::testing::ValuesIn(kRecords),
                         [](const auto& info) { return std::string(info.param.name); });

// A 32-bit frame at an odd address is stretched straight from its rows.
class MisalignedStretchTest : public ::testing::TestWithParam<bool> {};

TEST_P(MisalignedStretchTest, GivesTheSamePixelsAsFromAnAlignedCopy) {
    const bool bilinear = GetParam();
    FrameRecord odd(7, 5, 32, 41, 0, 3);
    std::vector<Pixel32> aligned(7 * 5);
    std::memcpy(aligned.data(), odd.rows(), aligned.size() * 4);
    const VBitmap oddSource = odd.Bitmap();
    const VBitmap alignedSource = MakeBitmap32(aligned.data(), 7, 5, 28);
    const auto stretch = bilinear ? ops.StretchBltBilinearFast : ops.StretchBltNearestFast;

    std::vector<Pixel32> fromOdd(13 * 11), fromAligned(13 * 11);
    // The target too sits at an odd address.
    std::vector<std::uint8_t> oddTarget(13 * 11 * 4 + 1);
    VBitmap target{};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = 13;
    header.biHeight = 11;
    header.biBitCount = 32;
    ops.initFromHeader(&target, oddTarget.data() + 1, &header);
    target.operations = &ops;
    const VBitmap alignedTarget = MakeBitmap32(fromAligned.data(), 13, 11, 52);
    ASSERT_TRUE(stretch(&target, 0, 0, 13, 11, &oddSource, 0.3, 0.2, 6.1, 4.7));
    ASSERT_TRUE(stretch(&alignedTarget, 0, 0, 13, 11, &alignedSource, 0.3, 0.2, 6.1, 4.7));
    std::memcpy(fromOdd.data(), oddTarget.data() + 1, fromOdd.size() * 4);
    EXPECT_EQ(fromOdd, fromAligned);

    ASSERT_TRUE(ops.RectFill(&target, 2, 3, 5, 4, 0x123456));
    ASSERT_TRUE(ops.RectFill(&alignedTarget, 2, 3, 5, 4, 0x123456));
    std::memcpy(fromOdd.data(), oddTarget.data() + 1, fromOdd.size() * 4);
    EXPECT_EQ(fromOdd, fromAligned);
}

INSTANTIATE_TEST_SUITE_P(Sampling, MisalignedStretchTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Bilinear" : "Nearest"; });

}  // namespace
