#include "hostkit/stretch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "hostkit/bitmap_geometry.h"
#include "hostkit/scratch_buffer.h"

namespace {

constexpr int kPixelBytes = 4;
constexpr int kShareOne = 256;
constexpr double kPixelCentre = 0.5;
constexpr std::size_t kCacheLine = 64;
constexpr std::size_t kRowStart = 512;

struct Sample {
    std::int32_t index;   // first source pixel
    std::int32_t next;    // second source pixel (bilinear; equals index at the edges)
    std::int32_t weight;  // share of `next` in 1/256 (bilinear)
};

bool operator==(const Sample& a, const Sample& b) {
    return a.index == b.index && a.next == b.next && a.weight == b.weight;
}

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
    const double between = position - kPixelCentre;
    if (!(between > 0.0)) {
        return {0, 0, 0};
    }
    if (between >= extent - 1) {
        return {extent - 1, extent - 1, 0};
    }
    const auto index = static_cast<std::int32_t>(between);
    const auto weight = static_cast<std::int32_t>((between - index) * kShareOne);
    return {index, index + 1, weight};
}


// One thread's scratch, grown to the largest stretch it has seen.
struct StretchScratch {
    std::vector<Sample> rows;
    std::vector<std::int32_t> first;
    std::vector<std::int32_t> second;
    std::vector<std::uint16_t> weights;
    std::vector<std::uint16_t> across[2];
    std::vector<std::uint8_t> prepared;
    std::vector<std::uint8_t> snapshot;
};

StretchScratch& ThreadScratch() {
    thread_local StretchScratch scratch;
    return scratch;
}

// The clipped destination columns' samples, counted from the leftmost
// source pixel read (`left`; `right` is the rightmost). Where the pixels
// read span two or more, a column that takes one pixel alone takes it as the
// whole share of a pair, so that every pair is adjacent.
struct ColumnTable {
    ColumnPairs pairs;
    std::int32_t left;
    std::int32_t right;
};

ColumnTable SampleColumns(Sample (*sampleAt)(double, int), double start, double step,
                          Wide firstColumn, int count, int extent, StretchScratch& scratch) {
    const auto size = static_cast<std::size_t>(count);
    std::int32_t* first = Grown(scratch.first, size);
    std::int32_t* second = Grown(scratch.second, size);
    std::uint16_t* weights = Grown(scratch.weights, size * kColumnWeights);
    const auto weigh = [weights](int i, std::int32_t share) {
        for (int byte = 0; byte < kPixelBytes; ++byte) {
            weights[i * kColumnWeights + 2 * byte] = static_cast<std::uint16_t>(kShareOne - share);
            weights[i * kColumnWeights + 2 * byte + 1] = static_cast<std::uint16_t>(share);
        }
    };
    std::int32_t left = std::numeric_limits<std::int32_t>::max(), right = 0;
    for (int i = 0; i < count; ++i) {
        const double centre = static_cast<double>(firstColumn + i) + kPixelCentre;
        const Sample column = sampleAt(start + centre * step, extent);
        first[i] = column.index;
        second[i] = column.next;
        weigh(i, column.weight);
        left = std::min(left, column.index);
        right = std::max(right, column.next);
    }
    const bool adjacent = sampleAt == &BilinearSample && right > left;
    for (int i = 0; i < count; ++i) {
        if (adjacent && first[i] == second[i]) {
            if (second[i] < right) {
                ++second[i];
            } else {
                --first[i];
                weigh(i, kShareOne);
            }
        }
        first[i] -= left;
        second[i] -= left;
    }
    return {{first, second, weights, adjacent}, left, right};
}

// The clipped destination rows' samples, counted from the topmost source
// row read (`top`; `bottom` is the lowest).
struct RowTable {
    const Sample* samples;
    std::int32_t top;
    std::int32_t bottom;
};

RowTable SampleRows(Sample (*sampleAt)(double, int), double start, double step, Wide firstRow,
                    int count, int extent, StretchScratch& scratch) {
    Sample* samples = Grown(scratch.rows, static_cast<std::size_t>(count));
    std::int32_t top = std::numeric_limits<std::int32_t>::max(), bottom = 0;
    for (int j = 0; j < count; ++j) {
        const double centre = static_cast<double>(firstRow + j) + kPixelCentre;
        samples[j] = sampleAt(start + centre * step, extent);
        top = std::min(top, samples[j].index);
        bottom = std::max(bottom, samples[j].next);
    }
    for (int j = 0; j < count; ++j) {
        samples[j].index -= top;
        samples[j].next -= top;
    }
    return {samples, top, bottom};
}

// Asks for the start of a destination row that a blend reads next; the
// kernels fetch ahead of themselves along a row, and the processor's own
// prefetching restarts late on each row.
void PrefetchStart(const std::uint8_t* row, std::size_t bytes) {
    for (std::size_t offset = 0; offset < std::min(bytes, kRowStart); offset += kCacheLine) {
        __builtin_prefetch(row + offset);
    }
}

// The part of the source that the clipped destination samples, its rows and
// columns counted from its top-left pixel.
struct SourceWindow {
    const std::uint8_t* origin;
    std::ptrdiff_t pitch;  // from one picture row to the one below it
    int width;
    int height;

    const std::uint8_t* RowAt(std::int32_t y) const { return origin + y * pitch; }
};

// The window over a copy of itself, for a destination that shares memory
// with the source.
SourceWindow Snapshot(const SourceWindow& window, std::vector<std::uint8_t>& copy) {
    const std::size_t rowBytes = static_cast<std::size_t>(window.width) * kPixelBytes;
    std::uint8_t* rows = Grown(copy, rowBytes * static_cast<std::size_t>(window.height));
    for (int y = 0; y < window.height; ++y) {
        std::memcpy(rows + rowBytes * y, window.RowAt(y), rowBytes);
    }
    return {rows, static_cast<std::ptrdiff_t>(rowBytes), window.width, window.height};
}

// The source rows as the kernels read them, through the per-call caches:
// each row prepared (for a blend) and blended across (bilinear) once.
class RowCache {
public:
    RowCache(const RowKernels& kernels, const StretchLaying& laying, const SourceWindow& window,
             const ColumnPairs& columns, int count, StretchScratch& scratch)
        : kernels_(kernels),
          window_(window),
          columns_(columns),
          count_(count),
          blends_(laying.laying != Laying::Copy),
          prepare_(kernels.prepare[static_cast<int>(laying.alpha)]) {
        if (blends_) {
            prepared_ =
                Grown(scratch.prepared, static_cast<std::size_t>(window.width) * kPixelBytes);
        }
        for (int slot = 0; slot < 2; ++slot) {
            across_[slot] =
                Grown(scratch.across[slot], static_cast<std::size_t>(count) * kPixelBytes);
        }
    }

    const std::uint8_t* Source(std::int32_t y) {
        if (!blends_) {
            return window_.RowAt(y);
        }
        if (y != preparedRow_) {
            prepare_(prepared_, window_.RowAt(y), window_.width);
            preparedRow_ = y;
        }
        return prepared_;
    }

    // Row y blended across; `keep` names a row whose blend must stay cached.
    const std::uint16_t* Across(std::int32_t y, std::int32_t keep) {
        for (int slot = 0; slot < 2; ++slot) {
            if (acrossRow_[slot] == y) {
                return across_[slot];
            }
        }
        const int slot = acrossRow_[0] == keep ? 1 : 0;
        kernels_.across(across_[slot], Source(y), columns_, count_);
        acrossRow_[slot] = y;
        return across_[slot];
    }

private:
    const RowKernels& kernels_;
    SourceWindow window_;
    ColumnPairs columns_;
    int count_;
    bool blends_;
    RowKernels::Prepare prepare_;
    std::uint8_t* prepared_ = nullptr;
    std::int32_t preparedRow_ = -1;
    std::uint16_t* across_[2] = {};
    std::int32_t acrossRow_[2] = {-1, -1};
};

}  // namespace

bool StretchBitmap(const RowKernels& kernels, Sampling sampling, const StretchLaying& laying,
                   const VBitmap* self, long x1, long y1, long dx, long dy, const VBitmap* source,
                   double x2, double y2, double dx1, double dy1) {
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
    const bool blends = laying.laying != Laying::Copy;
    if (blends && laying.opacity <= 0) {
        return true;
    }
    const bool bilinear = sampling == Sampling::Bilinear;
    Sample (*const sampleAt)(double, int) = bilinear ? &BilinearSample : &NearestSample;
    StretchScratch& scratch = ThreadScratch();
    const ColumnTable columnTable =
        SampleColumns(sampleAt, x2, dx1 / static_cast<double>(width),
                      Wide(columns.destination) - x1, columns.count, source->w, scratch);
    const RowTable rowTable =
        SampleRows(sampleAt, y2, dy1 / static_cast<double>(height), Wide(rows.destination) - y1,
                   rows.count, source->h, scratch);
    const ColumnPairs pairs = columnTable.pairs;
    const int count = columns.count;

    SourceWindow window{Row(*source, rowTable.top) +
                            static_cast<std::ptrdiff_t>(columnTable.left) * kPixelBytes,
                        -static_cast<std::ptrdiff_t>(source->pitch),
                        columnTable.right - columnTable.left + 1,
                        rowTable.bottom - rowTable.top + 1};
    if (PixelsOverlap(*self, *source)) {
        window = Snapshot(window, scratch.snapshot);
    }
    RowCache cache(kernels, laying, window, pairs, count, scratch);
    const int kind = static_cast<int>(laying.laying);
    // A nearest copy that takes every source column once, in order (the
    // same width, as a prescaled overlay has), copies rows as they are.
    bool wholeRows = !bilinear && !blends;
    for (int i = 0; wholeRows && i < count; ++i) {
        wholeRows = pairs.first[i] == i;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(count) * kPixelBytes;
    const Sample* rowSamples = rowTable.samples;
    const std::uint8_t* previous = nullptr;
    for (int j = 0; j < rows.count; ++j) {
        const Sample& row = rowSamples[j];
        std::uint8_t* out = Row(*self, rows.destination + j) +
                            static_cast<std::ptrdiff_t>(columns.destination) * kPixelBytes;
        if (!blends && j > 0 && row == rowSamples[j - 1]) {
            std::memmove(out, previous, rowBytes);
            previous = out;
            continue;
        }
        previous = out;
        if (blends && j + 1 < rows.count) {
            PrefetchStart(Row(*self, rows.destination + j + 1) +
                              static_cast<std::ptrdiff_t>(columns.destination) * kPixelBytes,
                          rowBytes);
        }
        if (wholeRows) {
            std::memcpy(out, cache.Source(row.index), rowBytes);
            continue;
        }
        if (!bilinear) {
            kernels.nearest[kind](out, cache.Source(row.index), pairs.first, count,
                                  laying.opacity);
            continue;
        }
        // A row that takes no share of the next one needs only its own blend.
        const std::int32_t lower = row.weight == 0 ? row.index : row.next;
        const std::uint16_t* upperValues = cache.Across(row.index, lower);
        const std::uint16_t* lowerValues = cache.Across(lower, row.index);
        kernels.down[kind](out, upperValues, lowerValues, count, row.weight, laying.opacity);
    }
    return true;
}
