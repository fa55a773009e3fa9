#include "hostkit/bitmap_operations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Wide enough that the sum or difference of any two `long` arguments, and of
// any of them with a bitmap extent, is exact.
#if defined(__SIZEOF_INT128__)
using Wide = __int128;
#else
using Wide = std::int64_t;
#endif
static_assert(sizeof(Wide) >= 2 * sizeof(long), "Wide must hold sums of two longs");

constexpr long kWholeExtent = -1;
constexpr std::int64_t kLargestLayout = std::numeric_limits<std::int32_t>::max();
constexpr int kWeightBits = 8;
constexpr int kWeightOne = 1 << kWeightBits;

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

// The lowest address of the bitmap's pixel block.
char* LowestRow(const VBitmap& bitmap) {
    char* data = reinterpret_cast<char*>(bitmap.data);
    if (bitmap.pitch < 0 && bitmap.h > 0) {
        return data + static_cast<std::ptrdiff_t>(bitmap.h - 1) * bitmap.pitch;
    }
    return data;
}

bool Drawable(const VBitmap* bitmap) {
    return bitmap != nullptr && bitmap->data != nullptr && bitmap->w > 0 && bitmap->h > 0;
}

// Picture row y (from the top), without the `long` arithmetic of PictureRow,
// which would overflow on large 32-bit bitmaps.
std::uint8_t* Row(const VBitmap& bitmap, std::int64_t y) {
    return reinterpret_cast<std::uint8_t*>(bitmap.data) +
           static_cast<std::ptrdiff_t>(bitmap.h - 1 - y) * static_cast<std::ptrdiff_t>(bitmap.pitch);
}

// ---------------------------------------------------------------------------
// Clipping

struct Span {
    int source = 0;
    int destination = 0;
    int count = 0;
};

// Clips a run of `length` starting at `source` in [0, sourceExtent) and at
// `destination` in [0, destinationExtent); count 0 when nothing is left.
Span ClipRun(Wide source, Wide destination, Wide length, int sourceExtent,
             int destinationExtent) {
    const Wide low = std::max({Wide(0), -source, -destination});
    const Wide high = std::min({length, Wide(sourceExtent) - source,
                                Wide(destinationExtent) - destination});
    Span span;
    if (high > low) {
        span.source = static_cast<int>(source + low);
        span.destination = static_cast<int>(destination + low);
        span.count = static_cast<int>(high - low);
    }
    return span;
}

// Clips [start, start + length) to [0, extent).
Span ClipRun(Wide start, Wide length, int extent) {
    return ClipRun(start, start, length, extent, extent);
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
// Stretching

struct Sample {
    std::int32_t index;  // first source pixel
    std::int32_t next;   // second source pixel (bilinear; equals index at the edges)
    std::int32_t weight; // share of `next` in 1/256 (bilinear)
};

Sample NearestSample(double position, int extent) {
    std::int32_t index;
    if (!(position >= 0.0)) {  // negative or NaN
        index = 0;
    } else if (position >= extent) {
        index = extent - 1;
    } else {
        index = static_cast<std::int32_t>(position);
    }
    return {index, index, 0};
}

Sample BilinearSample(double position, int extent) {
    const double between = position - 0.5;
    if (!(between > 0.0)) {
        return {0, 0, 0};
    }
    if (between >= extent - 1) {
        return {extent - 1, extent - 1, 0};
    }
    const auto index = static_cast<std::int32_t>(between);
    const auto weight = static_cast<std::int32_t>((between - index) * kWeightOne);
    return {index, index + 1, weight};
}

// The destination extent a stretch draws into: -1 stands for the source
// rectangle's extent, rounded.
bool StretchExtent(long requested, double sourceExtent, Wide& extent) {
    if (requested == kWholeExtent) {
        const double rounded = std::nearbyint(sourceExtent);
        if (!(rounded >= 1.0 && rounded <= double(std::numeric_limits<std::int32_t>::max()))) {
            return false;
        }
        extent = static_cast<Wide>(rounded);
        return true;
    }
    extent = requested;
    return requested > 0;
}

constexpr std::uint32_t kRoundingDown = 1u << (2 * kWeightBits - 1);

// One source row blended across at every destination column, exact (before
// any rounding): four 16-bit values per column, one per byte of the pixel
// in the pixel's byte order. A byte times a weight of at most 256 fits.
struct AcrossRow {
    std::vector<std::uint16_t> values;
    long sourceRow = -1;
};

#if defined(__SSE2__)
// Pixel `index` of a row in the low lane of a vector.
__m128i PixelVector(const std::uint8_t* row, std::int32_t index) {
    return _mm_cvtsi32_si128(static_cast<int>(Load32(row + index * kPixelBytes)));
}
#endif

void BlendAcross(AcrossRow& into, const std::uint8_t* row, const Sample* samples, int count,
                 long sourceRow) {
    std::uint16_t* out = into.values.data();
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 2 <= count; i += 2, out += 2 * kPixelBytes) {
        const Sample& first = samples[i];
        const Sample& second = samples[i + 1];
        const __m128i left = _mm_unpacklo_epi8(
            _mm_unpacklo_epi32(PixelVector(row, first.index), PixelVector(row, second.index)),
            zero);
        const __m128i right = _mm_unpacklo_epi8(
            _mm_unpacklo_epi32(PixelVector(row, first.next), PixelVector(row, second.next)),
            zero);
        const auto a0 = static_cast<short>(first.weight), a1 = static_cast<short>(second.weight);
        const __m128i across = _mm_set_epi16(a1, a1, a1, a1, a0, a0, a0, a0);
        const __m128i stay = _mm_sub_epi16(_mm_set1_epi16(kWeightOne), across);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_add_epi16(_mm_mullo_epi16(left, stay),
                                       _mm_mullo_epi16(right, across)));
    }
#endif
    for (; i < count; ++i, out += kPixelBytes) {
        const Sample& column = samples[i];
        const Pixel32 left = Load32(row + column.index * kPixelBytes);
        const Pixel32 right = Load32(row + column.next * kPixelBytes);
        const auto across = static_cast<std::uint32_t>(column.weight);
        const std::uint32_t stay = kWeightOne - across;
        for (int byte = 0; byte < kPixelBytes; ++byte) {
            const int shift = 8 * byte;
            out[byte] = static_cast<std::uint16_t>(((left >> shift) & 0xFF) * stay +
                                                   ((right >> shift) & 0xFF) * across);
        }
    }
    into.sourceRow = sourceRow;
}

void BlendDown(std::uint8_t* out, const AcrossRow& upper, const AcrossRow& lower, int count,
               std::uint32_t down) {
    const std::uint32_t up = kWeightOne - down;
    const std::uint16_t* top = upper.values.data();
    const std::uint16_t* bottom = lower.values.data();
    int i = 0;
#if defined(__SSE2__)
    const __m128i upWeight = _mm_set1_epi16(static_cast<short>(up));
    const __m128i downWeight = _mm_set1_epi16(static_cast<short>(down));
    const __m128i rounding = _mm_set1_epi32(static_cast<int>(kRoundingDown));
    for (; i + 2 <= count; i += 2) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i * kPixelBytes));
        const __m128i b =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i * kPixelBytes));
        // Exact 32-bit products from their low and high halves.
        const __m128i tLow = _mm_mullo_epi16(t, upWeight), tHigh = _mm_mulhi_epu16(t, upWeight);
        const __m128i bLow = _mm_mullo_epi16(b, downWeight);
        const __m128i bHigh = _mm_mulhi_epu16(b, downWeight);
        const __m128i first = _mm_srli_epi32(
            _mm_add_epi32(_mm_add_epi32(_mm_unpacklo_epi16(tLow, tHigh),
                                        _mm_unpacklo_epi16(bLow, bHigh)),
                          rounding),
            16);
        const __m128i second = _mm_srli_epi32(
            _mm_add_epi32(_mm_add_epi32(_mm_unpackhi_epi16(tLow, tHigh),
                                        _mm_unpackhi_epi16(bLow, bHigh)),
                          rounding),
            16);
        const __m128i words = _mm_packs_epi32(first, second);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * kPixelBytes),
                         _mm_packus_epi16(words, words));
    }
#endif
    for (; i < count; ++i) {
        Pixel32 pixel = 0;
        for (int byte = 0; byte < kPixelBytes; ++byte) {
            const std::uint32_t value =
                (top[i * kPixelBytes + byte] * up + bottom[i * kPixelBytes + byte] * down +
                 kRoundingDown) >> 16;
            pixel |= value << (8 * byte);
        }
        Store32(out + i * kPixelBytes, pixel);
    }
}

// Scratch of one thread's stretches, grown to the widest rectangle seen.
struct StretchScratch {
    std::vector<Sample> columns;
    AcrossRow rows[2];

    void Reserve(int count) {
        const auto size = static_cast<std::size_t>(count);
        if (columns.size() < size) {
            columns.resize(size);
            for (AcrossRow& row : rows) {
                row.values.resize(size * kPixelBytes);
            }
        }
        for (AcrossRow& row : rows) {
            row.sourceRow = -1;
        }
    }
    // The cached blend of `sourceRow`, computed now unless cached; `keep`
    // is a row that must stay cached.
    const AcrossRow& Across(const VBitmap& source, long sourceRow, long keep, int count) {
        for (AcrossRow& row : rows) {
            if (row.sourceRow == sourceRow) {
                return row;
            }
        }
        AcrossRow& slot = rows[0].sourceRow == keep ? rows[1] : rows[0];
        BlendAcross(slot, Row(source, sourceRow),
                    columns.data(), count, sourceRow);
        return slot;
    }
};

StretchScratch& ThreadScratch() {
    thread_local StretchScratch scratch;
    return scratch;
}

bool Stretch(const VBitmap* self, long x1, long y1, long dx, long dy, const VBitmap* source,
             double x2, double y2, double dx1, double dy1, bool bilinear) {
    if (!Drawable(self) || !Drawable(source) || self->depth != 32 || source->depth != 32) {
        return false;
    }
    if (!std::isfinite(x2) || !std::isfinite(y2) || !std::isfinite(dx1) || !std::isfinite(dy1)) {
        return false;
    }
    Wide width = 0, height = 0;
    if (!StretchExtent(dx, dx1, width) || !StretchExtent(dy, dy1, height)) {
        return false;
    }
    const Span columns = ClipRun(x1, width, self->w);
    const Span rows = ClipRun(y1, height, self->h);
    if (columns.count == 0 || rows.count == 0) {
        return false;
    }
    Sample (*const sampleAt)(double, int) = bilinear ? &BilinearSample : &NearestSample;
    const double stepX = dx1 / static_cast<double>(width);
    const double stepY = dy1 / static_cast<double>(height);
    const Wide firstColumn = Wide(columns.destination) - x1;
    const Wide firstRow = Wide(rows.destination) - y1;

    StretchScratch& scratch = ThreadScratch();
    scratch.Reserve(columns.count);
    Sample* samples = scratch.columns.data();
    for (int i = 0; i < columns.count; ++i) {
        const double centre = static_cast<double>(firstColumn + i) + 0.5;
        samples[i] = sampleAt(x2 + centre * stepX, source->w);
    }

    for (int j = 0; j < rows.count; ++j) {
        const double centre = static_cast<double>(firstRow + j) + 0.5;
        const Sample row = sampleAt(y2 + centre * stepY, source->h);
        std::uint8_t* out =
            Row(*self, rows.destination + j) + std::ptrdiff_t{columns.destination} * kPixelBytes;
        if (!bilinear) {
            const std::uint8_t* in = Row(*source, row.index);
            for (int i = 0; i < columns.count; ++i) {
                Store32(out + i * kPixelBytes, Load32(in + samples[i].index * kPixelBytes));
            }
            continue;
        }
        // A row that takes no share of the next one needs only its own blend.
        const long lowerRow = row.weight == 0 ? row.index : row.next;
        const AcrossRow& upper = scratch.Across(*source, row.index, lowerRow, columns.count);
        const AcrossRow& lower = scratch.Across(*source, lowerRow, row.index, columns.count);
        BlendDown(out, upper, lower, columns.count, static_cast<std::uint32_t>(row.weight));
    }
    return true;
}

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
    return Stretch(self, x1, y1, dx, dy, source, x2, y2, dx1, dy1, false);
}

bool HOST_THISCALL StretchBltBilinearFast(const VBitmap* self, long x1, long y1, long dx, long dy,
                                          const VBitmap* source, double x2, double y2, double dx1,
                                          double dy1) {
    return Stretch(self, x1, y1, dx, dy, source, x2, y2, dx1, dy1, true);
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
