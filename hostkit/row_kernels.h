// The per-row loops under the host kit's stretches and blends, as a table of
// functions. The plain set is the reference: its loops state each rule one
// pixel at a time, and it is the only set of the 32-bit Windows build. A
// native x86-64 build adds SSE2 and AVX2 sets; the best one this processor
// runs is chosen once, at the first call. Every set gives the plain set's
// bytes for any input, which the tests check on random, misaligned rows.
//
// Pixels are 32 bits, blue in the low byte, and rows may sit at any byte
// address. A row pointer points at the pixel that column index 0 names.
//
// Blended layings take premultiplied pixels (no colour byte above the
// pixel's top byte, the alpha A), which `prepare` makes. With O the opacity,
// C a colour byte of the laid pixel and D the destination's, both layings
// keep the destination's top byte and write, per colour byte:
//     Over:  min(255, C + round(D * (255 - A) / 255))
//     Faded: min(255, round((C * O * 255 + D * (255 * 255 - A * O)) / (255 * 255)))
// rounded to the nearest integer (no quotient lies on a half).
#pragma once

#include <cstdint>

// What a row of sampled pixels does to the destination row.
enum class Laying {
    Copy,   // replaces it
    Over,   // is laid over it, at full opacity
    Faded,  // is laid over it at an opacity below 255
};
constexpr int kLayings = 3;

// How a source row's top byte is taken before a blend samples it.
enum class SourceAlpha {
    Straight,       // alpha; the colour is multiplied by it
    Premultiplied,  // alpha; colour bytes above it are held to it
    Opaque,         // ignored: every pixel is opaque
};
constexpr int kSourceAlphas = 3;

// Where the clipped destination columns sample the source row, for the
// bilinear rows: the two pixels around each column and their weights.
struct ColumnPairs {
    const std::int32_t* first;
    const std::int32_t* second;
    // Per column, four times over (once per byte of a pixel): 256 - share,
    // share, with share the second pixel's in 1/256; laid out as vectors
    // multiply them.
    const std::uint16_t* weights;
    // Whether every column's second pixel follows its first, so that the
    // two load together.
    bool adjacent;
};
constexpr int kColumnWeights = 8;

struct RowKernels {
    const char* name;

    // out[i] = row[columns[i]], laid onto out.
    using Nearest = void (*)(std::uint8_t* out, const std::uint8_t* row,
                             const std::int32_t* columns, int count, int opacity);
    Nearest nearest[kLayings];

    // Per byte of every column: first * (256 - share) + second * share,
    // exact, four 16-bit values per column in the pixel's byte order.
    void (*across)(std::uint16_t* out, const std::uint8_t* row, const ColumnPairs& columns,
                   int count);

    // Per byte: (upper * (256 - share) + lower * share + 32768) >> 16, of
    // two rows that `across` wrote, laid onto out.
    using Down = void (*)(std::uint8_t* out, const std::uint16_t* upper,
                          const std::uint16_t* lower, int count, int share, int opacity);
    Down down[kLayings];

    // A source row as premultiplied pixels: out may not overlap in.
    // Straight: each colour byte C becomes round(C * A / 255).
    using Prepare = void (*)(std::uint8_t* out, const std::uint8_t* in, int count);
    Prepare prepare[kSourceAlphas];

    // Premultiplied pixels laid over a destination row, 1:1.
    using Lay = void (*)(std::uint8_t* out, const std::uint8_t* pixels, int count, int opacity);
    Lay layOver;
    Lay layFaded;
};

const RowKernels& PlainRowKernels();

#if defined(QUILLMERE_X86_ROW_KERNELS)
// The vector sets of a native x86-64 build; the AVX2 set may run only where
// the processor has AVX2.
const RowKernels& Sse2RowKernels();
const RowKernels& Avx2RowKernels();
#endif

// Every set this build has and this processor runs, the plain set first.
struct RowKernelSets {
    const RowKernels* const* sets;
    int count;
};
RowKernelSets AvailableRowKernels();

// The fastest available set, chosen on the first call.
const RowKernels& ChosenRowKernels();
