#include "hostkit/bitmap_operations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "hostkit/bitmap_geometry.h"
#include "hostkit/row_kernels.h"
#include "hostkit/stretch.h"

namespace {

constexpr std::int64_t kLargestLayout = std::numeric_limits<std::int32_t>::max();

// ---------------------------------------------------------------------------
// Layout

// Bytes that one row of `width` pixels occupies without padding, or -1 when
// the depth is not one a bitmap can have.
std::int64_t UnpaddedRowBytes(std::int64_t width, int depth) {
    switch (depth) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32:
        return (width * depth + 7) / 8;
    default:
        return -1;
    }
}

std::int64_t AlignUp(std::int64_t value, std::int64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool IsPalettised(int depth) { return depth >= 1 && depth <= 8; }

void MakeEmpty(VBitmap& bitmap, void* data, int depth) {
    bitmap.data = static_cast<Pixel32*>(data);
    bitmap.palette = nullptr;
    bitmap.depth = depth;
    bitmap.w = 0;
    bitmap.h = 0;
    bitmap.pitch = 0;
    bitmap.modulo = 0;
    bitmap.size = 0;
    bitmap.offset = 0;
}

// Lays out w x h rows of `alignment`-padded bytes over `lowest`, the lowest
// address of the pixel block; topDown stores picture row 0 there.
bool Layout(VBitmap& bitmap, void* lowest, std::int64_t w, std::int64_t h, int depth,
            std::int64_t alignment, bool topDown) {
    const std::int64_t rowBytes = UnpaddedRowBytes(w, depth);
    if (w < 0 || h < 0 || rowBytes < 0 || w > kLargestLayout || h > kLargestLayout) {
        MakeEmpty(bitmap, lowest, depth);
        return false;
    }
    const std::int64_t pitch = AlignUp(rowBytes, alignment);
    if (pitch > kLargestLayout || (h > 0 && pitch > kLargestLayout / h)) {
        MakeEmpty(bitmap, lowest, depth);
        return false;
    }
    char* base = static_cast<char*>(lowest);
    bitmap.depth = depth;
    bitmap.w = static_cast<int>(w);
    bitmap.h = static_cast<int>(h);
    bitmap.size = static_cast<long>(pitch * h);
    bitmap.offset = 0;
    if (topDown && h > 0 && base != nullptr) {
        bitmap.data = reinterpret_cast<Pixel32*>(base + (h - 1) * pitch);
        bitmap.pitch = static_cast<long>(-pitch);
    } else {
        bitmap.data = reinterpret_cast<Pixel32*>(base);
        bitmap.pitch = static_cast<long>(topDown ? -pitch : pitch);
    }
    bitmap.modulo = static_cast<long>(bitmap.pitch - rowBytes);
    return true;
}

// ---------------------------------------------------------------------------
// Pixel conversion

constexpr Pixel32 kColourBits = 0x00FFFFFF;
constexpr int kPixelBytes = 4;
constexpr std::size_t kPaletteEntryBytes = 4;
constexpr unsigned kLargestPaletteEntries = 256;

// A bitmap made from a header has its rows and colour table wherever the
// header puts them, 4-byte aligned or not; every 32-bit pixel and colour is
// moved through these. On the aligned path they compile to plain moves.
Pixel32 Load32(const void* address) {
    Pixel32 value;
    std::memcpy(&value, address, sizeof value);
    return value;
}

void Store32(void* address, Pixel32 value) { std::memcpy(address, &value, sizeof value); }

// The colour table as one conversion uses it: 2^depth entries, aligned,
// colour bits only. Entries past the bitmap's own table are black.
struct ColourTable {
    Pixel32 entries[kLargestPaletteEntries];
};

// How many entries of a palettised bitmap's table may be read: 2^depth, or
// fewer when the rows begin sooner after the table, as in a frame record
// whose header declares fewer colours than its depth can index.
std::size_t ReadablePaletteEntries(const VBitmap& bitmap, const std::uint8_t* lowestRow) {
    const std::size_t full = std::size_t{1} << bitmap.depth;
    const auto* table = reinterpret_cast<const std::uint8_t*>(bitmap.palette);
    const auto tableAddress = reinterpret_cast<std::uintptr_t>(table);
    const auto rowsAddress = reinterpret_cast<std::uintptr_t>(lowestRow);
    if (rowsAddress >= tableAddress && rowsAddress - tableAddress < full * kPaletteEntryBytes) {
        return (rowsAddress - tableAddress) / kPaletteEntryBytes;
    }
    return full;
}

// A missing palette reads as a grey ramp. Only the entries up to `largestIndex`
// are read: a table shorter than the depth allows may end anywhere, and
// the pixels never name an entry past the largest index they hold.
void FillColourTable(ColourTable& table, const VBitmap& source, const std::uint8_t* lowestRow,
                     unsigned largestIndex) {
    const std::size_t full = std::size_t{1} << source.depth;
    if (source.palette == nullptr) {
        for (std::size_t level = 0; level < full; ++level) {
            table.entries[level] = static_cast<Pixel32>(level * 0x010101u);
        }
        return;
    }
    const std::size_t readable =
        std::min(ReadablePaletteEntries(source, lowestRow), std::size_t{largestIndex} + 1);
    const auto* entries = reinterpret_cast<const std::uint8_t*>(source.palette);
    for (std::size_t index = 0; index < readable; ++index) {
        table.entries[index] = Load32(entries + index * kPaletteEntryBytes) & kColourBits;
    }
    std::fill(table.entries + readable, table.entries + full, Pixel32{0});
}

Pixel32 Expand555(std::uint16_t value) {
    const Pixel32 blue = value & 31, green = (value >> 5) & 31, red = (value >> 10) & 31;
    return ((blue << 3) | (blue >> 2)) | (((green << 3) | (green >> 2)) << 8) |
           (((red << 3) | (red >> 2)) << 16);
}

std::uint16_t Pack555(Pixel32 pixel) {
    return static_cast<std::uint16_t>(((pixel >> 3) & 0x1F) | ((pixel >> 6) & 0x3E0) |
                                       ((pixel >> 9) & 0x7C00));
}

// Index of pixel x in a row of sub-byte pixels, leftmost pixel in the high bits.
unsigned PackedIndex(const std::uint8_t* row, std::int64_t x, int depth) {
    const std::int64_t bit = x * depth;
    const int shift = 8 - depth - static_cast<int>(bit & 7);
    return (row[bit >> 3] >> shift) & ((1u << depth) - 1);
}

// The largest colour index among `count` pixels from column `first` of a
// palettised row.
unsigned LargestIndexInRow(const std::uint8_t* row, std::int64_t first, int count, int depth) {
    unsigned largest = 0;
    if (depth == 8) {
        for (int i = 0; i < count; ++i) {
            largest = std::max<unsigned>(largest, row[first + i]);
        }
        return largest;
    }
    for (int i = 0; i < count; ++i) {
        largest = std::max(largest, PackedIndex(row, first + i, depth));
    }
    return largest;
}

void StorePackedIndex(std::uint8_t* row, std::int64_t x, int depth, unsigned index) {
    const std::int64_t bit = x * depth;
    const int shift = 8 - depth - static_cast<int>(bit & 7);
    const unsigned mask = ((1u << depth) - 1) << shift;
    row[bit >> 3] = static_cast<std::uint8_t>((row[bit >> 3] & ~mask) | ((index << shift) & mask));
}

// Rows converted into 32 bits: `count` pixels of `source` from pixel x.
void RowFrom32(std::uint8_t* out, const std::uint8_t* source, int x, int count,
               const ColourTable&) {
    std::memmove(out, source + static_cast<std::ptrdiff_t>(x) * kPixelBytes,
                 static_cast<std::size_t>(count) * kPixelBytes);
}

void RowFrom24(std::uint8_t* out, const std::uint8_t* source, int x, int count,
               const ColourTable&) {
    const std::uint8_t* in = source + static_cast<std::ptrdiff_t>(x) * 3;
    for (int i = 0; i < count; ++i, in += 3) {
        Store32(out + i * kPixelBytes,
                Pixel32(in[0]) | (Pixel32(in[1]) << 8) | (Pixel32(in[2]) << 16));
    }
}

void RowFrom16(std::uint8_t* out, const std::uint8_t* source, int x, int count,
               const ColourTable&) {
    const std::uint8_t* in = source + static_cast<std::ptrdiff_t>(x) * 2;
    for (int i = 0; i < count; ++i, in += 2) {
        Store32(out + i * kPixelBytes, Expand555(static_cast<std::uint16_t>(in[0] | (in[1] << 8))));
    }
}

void RowFrom8(std::uint8_t* out, const std::uint8_t* source, int x, int count,
              const ColourTable& table) {
    const std::uint8_t* in = source + x;
    for (int i = 0; i < count; ++i) {
        Store32(out + i * kPixelBytes, table.entries[in[i]]);
    }
}

template <int Depth>
void RowFromPacked(std::uint8_t* out, const std::uint8_t* source, int x, int count,
                   const ColourTable& table) {
    for (int i = 0; i < count; ++i) {
        Store32(out + i * kPixelBytes,
                table.entries[PackedIndex(source, std::int64_t(x) + i, Depth)]);
    }
}

using RowConverter = void (*)(std::uint8_t*, const std::uint8_t*, int, int, const ColourTable&);

struct SourceDepth {
    int depth;
    RowConverter toPixel32;
};

const SourceDepth kConvertersTo32[] = {
    {32, &RowFrom32}, {24, &RowFrom24}, {16, &RowFrom16}, {8, &RowFrom8},
    {4, &RowFromPacked<4>}, {2, &RowFromPacked<2>}, {1, &RowFromPacked<1>},
};

RowConverter ConverterTo32(int depth) {
    for (const SourceDepth& entry : kConvertersTo32) {
        if (entry.depth == depth) {
            return entry.toPixel32;
        }
    }
    return nullptr;
}

// One pixel of a 16/24/32-bit row as a 32-bit pixel, and back.
Pixel32 LoadPixel(const std::uint8_t* row, std::int64_t x, int depth) {
    switch (depth) {
    case 32: {
        Pixel32 pixel;
        std::memcpy(&pixel, row + x * 4, 4);
        return pixel;
    }
    case 24:
        return Pixel32(row[x * 3]) | (Pixel32(row[x * 3 + 1]) << 8) |
               (Pixel32(row[x * 3 + 2]) << 16);
    default:
        return Expand555(static_cast<std::uint16_t>(row[x * 2] | (row[x * 2 + 1] << 8)));
    }
}

void StorePixel(std::uint8_t* row, std::int64_t x, int depth, Pixel32 pixel) {
    switch (depth) {
    case 32:
        std::memcpy(row + x * 4, &pixel, 4);
        break;
    case 24:
        row[x * 3] = static_cast<std::uint8_t>(pixel);
        row[x * 3 + 1] = static_cast<std::uint8_t>(pixel >> 8);
        row[x * 3 + 2] = static_cast<std::uint8_t>(pixel >> 16);
        break;
    default: {
        const std::uint16_t packed = Pack555(pixel);
        row[x * 2] = static_cast<std::uint8_t>(packed);
        row[x * 2 + 1] = static_cast<std::uint8_t>(packed >> 8);
        break;
    }
    }
}

bool IsDirectColour(int depth) { return depth == 16 || depth == 24 || depth == 32; }

// ---------------------------------------------------------------------------
// The table's operations

VBitmap* HOST_THISCALL InitFromHeader(VBitmap* self, void* data, BITMAPINFOHEADER* header) {
    if (header == nullptr) {
        MakeEmpty(*self, data, 0);
        return self;
    }
    const std::int64_t height = header->biHeight;
    const bool topDown = height < 0;
    Layout(*self, data, header->biWidth, topDown ? -height : height, header->biBitCount, 4,
           topDown);
    if (IsPalettised(self->depth) && self->w > 0) {
        self->palette = reinterpret_cast<Pixel32*>(reinterpret_cast<char*>(header) +
                                                   header->biSize);
    } else {
        self->palette = nullptr;
    }
    return self;
}

VBitmap* HOST_THISCALL InitFromSize(VBitmap* self, void* data, long w, long h, int depth) {
    Layout(*self, data, w, h, depth, 4, false);
    self->palette = nullptr;
    return self;
}

void WriteHeader(const VBitmap& bitmap, BITMAPINFOHEADER& header, std::int64_t rowBytes) {
    std::memset(&header, 0, sizeof header);
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = bitmap.w;
    header.biHeight = bitmap.pitch < 0 ? -bitmap.h : bitmap.h;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitmap.depth);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(std::max<std::int64_t>(rowBytes, 0) * bitmap.h);
}

void HOST_THISCALL MakeBitmapHeader(const VBitmap* self, BITMAPINFOHEADER* header) {
    WriteHeader(*self, *header, AlignUp(UnpaddedRowBytes(self->w, self->depth), 4));
}

void HOST_THISCALL MakeBitmapHeaderNoPadding(const VBitmap* self, BITMAPINFOHEADER* header) {
    WriteHeader(*self, *header, UnpaddedRowBytes(self->w, self->depth));
}

void Realign(VBitmap* self, std::int64_t alignment) {
    Layout(*self, LowestRow(*self), self->w, self->h, self->depth, alignment, self->pitch < 0);
}

void HOST_THISCALL AlignTo4(VBitmap* self) { Realign(self, 4); }
void HOST_THISCALL AlignTo8(VBitmap* self) { Realign(self, 8); }

void HOST_THISCALL BitBlt(const VBitmap* self, long x2, long y2, const VBitmap* source, long x1,
                          long y1, long dx, long dy) {
    if (!Drawable(self) || !Drawable(source)) {
        return;
    }
    const Wide width = dx == kWholeExtent ? Wide(source->w) : Wide(dx);
    const Wide height = dy == kWholeExtent ? Wide(source->h) : Wide(dy);
    const Span columns = ClipRun(x1, x2, width, source->w, self->w);
    const Span rows = ClipRun(y1, y2, height, source->h, self->h);
    if (columns.count == 0 || rows.count == 0) {
        return;
    }
    // Within one bitmap, walk the rows away from the overlap.
    const bool backwards = source->data == self->data && rows.destination > rows.source;
    auto rowPair = [&](int j) {
        const int k = backwards ? rows.count - 1 - j : j;
        return std::make_pair(Row(*self, rows.destination + k), Row(*source, rows.source + k));
    };

    if (self->depth == 32 && source->depth != 32) {
        const RowConverter convert = ConverterTo32(source->depth);
        if (convert == nullptr) {
            return;
        }
        ColourTable table;
        if (IsPalettised(source->depth)) {
            unsigned largest = 0;
            for (int j = 0; j < rows.count; ++j) {
                largest = std::max(largest, LargestIndexInRow(rowPair(j).second, columns.source,
                                                              columns.count, source->depth));
            }
            FillColourTable(table, *source,
                            reinterpret_cast<const std::uint8_t*>(LowestRow(*source)), largest);
        }
        for (int j = 0; j < rows.count; ++j) {
            const auto [out, in] = rowPair(j);
            convert(out + std::ptrdiff_t{columns.destination} * kPixelBytes, in, columns.source,
                    columns.count, table);
        }
        return;
    }
    if (self->depth == source->depth && self->depth % 8 == 0) {
        const std::ptrdiff_t bytes = self->depth / 8;
        for (int j = 0; j < rows.count; ++j) {
            const auto [out, in] = rowPair(j);
            std::memmove(out + columns.destination * bytes, in + columns.source * bytes,
                         static_cast<std::size_t>(columns.count * bytes));
        }
        return;
    }
    if (self->depth == source->depth && IsPalettised(self->depth)) {
        const bool leftwards = source->data == self->data && columns.destination > columns.source;
        for (int j = 0; j < rows.count; ++j) {
            const auto [out, in] = rowPair(j);
            for (int i = 0; i < columns.count; ++i) {
                const int k = leftwards ? columns.count - 1 - i : i;
                StorePackedIndex(out, columns.destination + k, self->depth,
                                 PackedIndex(in, columns.source + k, self->depth));
            }
        }
        return;
    }
    if (IsDirectColour(self->depth) && IsDirectColour(source->depth)) {
        for (int j = 0; j < rows.count; ++j) {
            const auto [out, in] = rowPair(j);
            for (int i = 0; i < columns.count; ++i) {
                StorePixel(out, columns.destination + i, self->depth,
                           LoadPixel(in, columns.source + i, source->depth));
            }
        }
    }
}

void HOST_THISCALL Unsupported(const VBitmap*) {}

bool HOST_THISCALL StretchBltNearestFast(const VBitmap* self, long x1, long y1, long dx, long dy,
                                         const VBitmap* source, double x2, double y2, double dx1,
                                         double dy1) {
    return StretchBitmap(ChosenRowKernels(), Sampling::Nearest, StretchLaying{}, self, x1, y1, dx,
                         dy, source, x2, y2, dx1, dy1);
}

bool HOST_THISCALL StretchBltBilinearFast(const VBitmap* self, long x1, long y1, long dx, long dy,
                                          const VBitmap* source, double x2, double y2, double dx1,
                                          double dy1) {
    return StretchBitmap(ChosenRowKernels(), Sampling::Bilinear, StretchLaying{}, self, x1, y1, dx,
                         dy, source, x2, y2, dx1, dy1);
}

bool HOST_THISCALL RectFill(const VBitmap* self, long x1, long y1, long dx, long dy,
                            std::uint32_t pixel) {
    if (!Drawable(self) || (!IsDirectColour(self->depth) && self->depth != 8)) {
        return false;
    }
    const Span columns = ClipRun(x1, dx == kWholeExtent ? Wide(self->w) : Wide(dx), self->w);
    const Span rows = ClipRun(y1, dy == kWholeExtent ? Wide(self->h) : Wide(dy), self->h);
    if (columns.count == 0 || rows.count == 0) {
        return false;
    }
    for (int j = 0; j < rows.count; ++j) {
        std::uint8_t* row = Row(*self, rows.destination + j);
        switch (self->depth) {
        case 32:
            for (int i = 0; i < columns.count; ++i) {
                Store32(row + (std::ptrdiff_t{columns.destination} + i) * kPixelBytes, pixel);
            }
            break;
        case 8:
            std::memset(row + columns.destination, static_cast<int>(pixel & 0xFF),
                        static_cast<std::size_t>(columns.count));
            break;
        default:
            for (int i = 0; i < columns.count; ++i) {
                const std::int64_t x = std::int64_t(columns.destination) + i;
                if (self->depth == 24) {
                    StorePixel(row, x, 24, pixel);
                } else {
                    row[x * 2] = static_cast<std::uint8_t>(pixel);
                    row[x * 2 + 1] = static_cast<std::uint8_t>(pixel >> 8);
                }
            }
            break;
        }
    }
    return true;
}

const VBitmapOperations kOperations = {
    &InitFromHeader,
    &InitFromSize,
    &MakeBitmapHeader,
    &AlignTo4,
    &AlignTo8,
    &BitBlt,
    &Unsupported,  // BitBltDither
    &Unsupported,  // BitBlt565
    &Unsupported,  // BitBltXlat1
    &Unsupported,  // BitBltXlat3
    &StretchBltNearestFast,
    &StretchBltBilinearFast,
    &RectFill,
    &Unsupported,  // Histogram
    &Unsupported,  // BitBltFromYUY2
    &Unsupported,  // BitBltFromI420
    &MakeBitmapHeaderNoPadding,
};

}  // namespace

const VBitmapOperations& HostBitmapOperations() { return kOperations; }

VBitmap MakeBitmap32(Pixel32* data, int w, int h, long pitch) {
    VBitmap bitmap{};
    bitmap.operations = &kOperations;
    bitmap.data = data;
    bitmap.depth = 32;
    bitmap.w = w;
    bitmap.h = h;
    bitmap.pitch = pitch;
    bitmap.modulo = pitch - 4L * w;
    bitmap.size = (pitch < 0 ? -pitch : pitch) * h;
    return bitmap;
}
