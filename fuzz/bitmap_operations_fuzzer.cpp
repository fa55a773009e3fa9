// The host-side bitmap operations on frame records a damaged file could hold
// (any depth, short colour tables, header sizes off alignment, top-down
// rows) and on any coordinates.
// Checks: nothing is read outside the record (the sanitizer) or written
// outside the destination, its row padding included; every BitBlt into 32
// bits and every RectFill is worked out pixel by pixel here and compared; a
// stretch leaves every pixel outside its clipped rectangle as it was.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "hostkit/bitmap_operations.h"

namespace {

constexpr const char* kTarget = "bitmap_operations_fuzzer";
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 32;
using Wide = __int128;

const int kDepths[] = {1, 2, 4, 8, 16, 24, 32, 0, 3, 15};
const int kDestinationDepths[] = {32, 24, 16, 8};
const long kExtremes[] = {LONG_MIN, LONG_MAX, INT_MIN, INT_MAX, -1, 0, 1 << 16, -(1L << 31) + 1};

long ReadCoordinate(FuzzInput& input) {
    const auto kind = input.Read<std::uint8_t>();
    if (kind < 200) {
        return static_cast<long>(input.ReadBetween(-30, 30));
    }
    if (kind < 240) {
        return kExtremes[input.ReadBetween(0, sizeof kExtremes / sizeof kExtremes[0] - 1)];
    }
    return input.Read<long>();
}

double ReadSourceValue(FuzzInput& input) {
    const auto kind = input.Read<std::uint8_t>();
    if (kind < 220) {
        return static_cast<double>(input.ReadBetween(-400, 400)) / 8.0;
    }
    return input.Read<double>();
}

// A packed frame record in a block of exactly its own size.
struct Record {
    std::vector<std::uint8_t> bytes;
    int width = 0, height = 0, depth = 0;
    bool topDown = false;
    std::size_t tableOffset = 0, rowsOffset = 0, rowBytes = 0, readableEntries = 0;
    VBitmap bitmap{};

    explicit Record(FuzzInput& input) {
        const auto headerSize = static_cast<std::uint32_t>(input.ReadBetween(40, 47));
        width = static_cast<int>(input.ReadBetween(-2, 24));
        const int signedHeight = static_cast<int>(input.ReadBetween(-24, 24));
        depth = kDepths[input.ReadBetween(0, sizeof kDepths / sizeof kDepths[0] - 1)];
        const auto colours = static_cast<std::uint32_t>(input.ReadBetween(0, 300));
        topDown = signedHeight < 0;
        height = topDown ? -signedHeight : signedHeight;
        const bool palettised = depth >= 1 && depth <= 8;
        const std::size_t declared = palettised ? (colours != 0 ? colours : 1u << depth) : 0;
        readableEntries = palettised ? std::min<std::size_t>(declared, 1u << depth) : 0;
        // Rows of a depth no bitmap can have are sized as 8 bits.
        const std::size_t bits = static_cast<std::size_t>(depth > 0 ? depth : 8);
        rowBytes = width > 0 ? (static_cast<std::size_t>(width) * bits + 31) / 32 * 4 : 0;
        tableOffset = headerSize;
        rowsOffset = headerSize + declared * 4;
        bytes.resize(rowsOffset + rowBytes * static_cast<std::size_t>(height));
        BITMAPINFOHEADER header{};
        header.biSize = headerSize;
        header.biWidth = width;
        header.biHeight = signedHeight;
        header.biPlanes = 1;
        header.biBitCount = static_cast<WORD>(depth);
        header.biClrUsed = colours;
        std::memcpy(bytes.data(), &header, sizeof header);
    }
    // The rest of the input, repeated as needed, fills the table and rows;
    // then the bitmap is made from the header as the host makes it.
    void Fill(FuzzInput& input) {
        const std::string fill = input.Rest();
        for (std::size_t i = sizeof(BITMAPINFOHEADER), k = 0; i < bytes.size(); ++i, ++k) {
            bytes[i] = fill.empty()
                           ? static_cast<std::uint8_t>(k * 29)
                           : static_cast<std::uint8_t>(fill[k % fill.size()] + k / fill.size());
        }
        bitmap.operations = &HostBitmapOperations();
        HostBitmapOperations().initFromHeader(
            &bitmap, bytes.data() + rowsOffset, reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()));
    }
    bool Valid() const { return bitmap.w > 0 && bitmap.h > 0; }
    const std::uint8_t* Row(int y) const {  // picture row from the top
        const int stored = topDown ? y : height - 1 - y;
        return bytes.data() + rowsOffset + rowBytes * static_cast<std::size_t>(stored);
    }
    // The pixel as a 32-bit destination receives it, by the format's rules.
    std::uint32_t Converted(int x, int y) const {
        const std::uint8_t* row = Row(y);
        switch (depth) {
        case 32: {
            std::uint32_t pixel;
            std::memcpy(&pixel, row + 4 * x, 4);
            return pixel;
        }
        case 24:
            return row[3 * x] | (row[3 * x + 1] << 8) | (std::uint32_t(row[3 * x + 2]) << 16);
        case 16: {
            const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
            const unsigned b = v & 31, g = (v >> 5) & 31, r = (v >> 10) & 31;
            return ((b << 3) | (b >> 2)) | (((g << 3) | (g >> 2)) << 8) |
                   (((r << 3) | (r >> 2)) << 16);
        }
        default: {
            const std::size_t bit = static_cast<std::size_t>(x) * depth;
            const unsigned index = (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
            if (index >= readableEntries) {
                return 0;
            }
            std::uint32_t colour;
            std::memcpy(&colour, bytes.data() + tableOffset + 4 * index, 4);
            return colour & 0x00FFFFFF;
        }
        }
    }
};

// A destination over guarded memory, possibly at an odd address.
struct Destination {
    std::vector<std::uint8_t> bytes;
    std::size_t start = 0;
    int width = 0, height = 0, depth = 0;
    std::size_t pitch = 0, pixelBytes = 0;
    VBitmap bitmap{};

    explicit Destination(FuzzInput& input) {
        width = static_cast<int>(input.ReadBetween(1, 24));
        height = static_cast<int>(input.ReadBetween(1, 16));
        depth = kDestinationDepths[input.ReadBetween(0, 3)];
        const auto misalignment = static_cast<std::size_t>(input.ReadBetween(0, 3));
        pixelBytes = static_cast<std::size_t>(width) * depth / 8;
        pitch = (pixelBytes + 3) / 4 * 4;
        start = kGuardBytes + misalignment;
        bytes.assign(start + pitch * height + kGuardBytes, kGuard);
        for (std::size_t i = start; i < start + pitch * height; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 37);
        }
        bitmap.operations = &HostBitmapOperations();
        HostBitmapOperations().initFromSize(&bitmap, bytes.data() + start, width, height, depth);
    }
    std::uint8_t* Pixel(int x, int y) {  // bottom-up rows
        return bytes.data() + start + pitch * static_cast<std::size_t>(height - 1 - y) +
               static_cast<std::size_t>(x) * depth / 8;
    }
    std::uint32_t Load32(int x, int y) {
        std::uint32_t value;
        std::memcpy(&value, Pixel(x, y), 4);
        return value;
    }
};

bool Inside(Wide value, Wide low, Wide count) { return value >= low && value < low + count; }

void CheckUntouchedOutside(const std::vector<std::uint8_t>& before, Destination& out,
                           Wide left, Wide top, Wide width, Wide height, const char* what) {
    for (std::size_t i = 0; i < before.size(); ++i) {
        const bool inGuards = i < out.start || i >= out.start + out.pitch * out.height;
        if (inGuards) {
            FUZZ_CHECK(out.bytes[i] == before[i], kTarget, std::string(what) + " wrote outside");
            continue;
        }
        const std::size_t offset = i - out.start;
        const std::size_t column = offset % out.pitch;
        const int y = out.height - 1 - static_cast<int>(offset / out.pitch);
        if (column >= out.pixelBytes) {
            FUZZ_CHECK(out.bytes[i] == before[i], kTarget, std::string(what) + " wrote padding");
            continue;
        }
        const int x = static_cast<int>(column / (out.depth / 8));
        if (!(Inside(x, left, width) && Inside(y, top, height))) {
            FUZZ_CHECK(out.bytes[i] == before[i], kTarget,
                       std::string(what) + " wrote outside its rectangle");
        }
    }
}

void FuzzBitBlt(FuzzInput& input, Record& source, Destination& out) {
    const long x2 = ReadCoordinate(input), y2 = ReadCoordinate(input);
    const long x1 = ReadCoordinate(input), y1 = ReadCoordinate(input);
    const long dx = ReadCoordinate(input), dy = ReadCoordinate(input);
    source.Fill(input);
    const std::vector<std::uint8_t> before = out.bytes;
    out.bitmap.operations->BitBlt(&out.bitmap, x2, y2, &source.bitmap, x1, y1, dx, dy);
    const Wide width = dx == -1 ? Wide(source.bitmap.w) : Wide(dx);
    const Wide height = dy == -1 ? Wide(source.bitmap.h) : Wide(dy);
    CheckUntouchedOutside(before, out, x2, y2, width, height, "BitBlt");
    if (out.depth != 32 || !source.Valid() || width <= 0 || height <= 0) {
        return;
    }
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const Wide i = Wide(x) - x2, j = Wide(y) - y2;
            const Wide sx = x1 + i, sy = y1 + j;
            const bool copied = i >= 0 && i < width && j >= 0 && j < height && sx >= 0 &&
                                sx < source.width && sy >= 0 && sy < source.height;
            std::uint32_t expected;
            if (copied) {
                expected = source.Converted(static_cast<int>(sx), static_cast<int>(sy));
            } else {
                std::memcpy(&expected, before.data() + (out.Pixel(x, y) - out.bytes.data()), 4);
            }
            FUZZ_CHECK(out.Load32(x, y) == expected, kTarget,
                       "BitBlt pixel " + std::to_string(x) + "," + std::to_string(y) +
                           " from depth " + std::to_string(source.depth));
        }
    }
}

void FuzzRectFill(FuzzInput& input, Destination& out) {
    const long x = ReadCoordinate(input), y = ReadCoordinate(input);
    const long dx = ReadCoordinate(input), dy = ReadCoordinate(input);
    const auto pixel = input.Read<std::uint32_t>();
    const std::vector<std::uint8_t> before = out.bytes;
    out.bitmap.operations->RectFill(&out.bitmap, x, y, dx, dy, pixel);
    const Wide width = dx == -1 ? Wide(out.width) : Wide(dx);
    const Wide height = dy == -1 ? Wide(out.height) : Wide(dy);
    CheckUntouchedOutside(before, out, x, y, width, height, "RectFill");
    const std::size_t bytesPerPixel = static_cast<std::size_t>(out.depth) / 8;
    for (int row = 0; row < out.height; ++row) {
        for (int column = 0; column < out.width; ++column) {
            if (Inside(column, x, width) && Inside(row, y, height)) {
                FUZZ_CHECK(std::memcmp(out.Pixel(column, row), &pixel, bytesPerPixel) == 0,
                           kTarget, "RectFill pixel");
            }
        }
    }
}

void FuzzStretch(FuzzInput& input, Record& source, Destination& out) {
    const long x1 = ReadCoordinate(input), y1 = ReadCoordinate(input);
    const long dx = ReadCoordinate(input), dy = ReadCoordinate(input);
    const double x2 = ReadSourceValue(input), y2 = ReadSourceValue(input);
    const double dx1 = ReadSourceValue(input), dy1 = ReadSourceValue(input);
    const bool bilinear = input.Read<std::uint8_t>() % 2 == 1;
    source.Fill(input);
    const std::vector<std::uint8_t> before = out.bytes;
    const auto stretch = bilinear ? out.bitmap.operations->StretchBltBilinearFast
                                  : out.bitmap.operations->StretchBltNearestFast;
    const bool drawn = stretch(&out.bitmap, x1, y1, dx, dy, &source.bitmap, x2, y2, dx1, dy1);
    if (!drawn) {
        FUZZ_CHECK(out.bytes == before, kTarget, "a stretch that drew nothing changed bytes");
        return;
    }
    FUZZ_CHECK(out.depth == 32 && source.depth == 32, kTarget, "stretch drew at another depth");
    // -1 stands for the source extent rounded: then only the whole
    // destination bounds the drawing.
    if (dx != -1 && dy != -1) {
        CheckUntouchedOutside(before, out, x1, y1, dx, dy, "Stretch");
    } else {
        CheckUntouchedOutside(before, out, 0, 0, out.width, out.height, "Stretch");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const auto operation = input.Read<std::uint8_t>() % 3;
    Destination out(input);
    Record source(input);
    switch (operation) {
    case 0:
        FuzzBitBlt(input, source, out);
        break;
    case 1:
        FuzzRectFill(input, out);
        break;
    default:
        FuzzStretch(input, source, out);
        break;
    }
    return 0;
}
