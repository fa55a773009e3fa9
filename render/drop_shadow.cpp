#include "render/drop_shadow.h"

#include <algorithm>
#include <array>

#include "filter/filter_data.h"
#include "render/random_generator.h"
#include "render/shadow_levels.h"

const ShadowStyle kShadowStyles[kShadowStyleCount] = {
    // list text                            gradient random fixed shift
    {"No gradient shadow", false, false, false},
    {"Gradient shadow, random var.", true, true, false},
    {"Gradient, no random variation", true, false, false},
    {"Gradient, rand. var., fixed shift", true, true, true},
    {"Gradient, no rand. var., fixed s.", true, false, true},
    {"No gradient, fixed shift", false, false, true},
};

namespace {

constexpr double kPercent = 100.0;
// Random variation: a draw scaled to 0..100 moves the level by
// (50 - r) / 600, that is by less than 1/12 either way.
constexpr std::int32_t kVariationRange = 100;
constexpr double kVariationCentre = 50.0;
constexpr double kVariationDivisor = 600.0;
// Levels of indices 0..S are tabled per call up to this band size; larger
// bands work each level out where it is needed.
constexpr std::int32_t kLevelTableLargestSize = 1024;
// First style whose band starts `shadowShift` in from the box's corners.
constexpr std::int32_t kFirstFixedShiftStyle = 3;

constexpr ShadowStyle kUnlistedStyleBelow = {"", true, false, false};
constexpr ShadowStyle kUnlistedStyleAbove = {"", true, false, true};

// The level variation of every possible draw, worked out once per process:
// each varied level needs one, and a division per pixel would cost more than
// the rest of the shading. The table takes the generator's own scale, which
// is the value the start procedure puts in the record's randScale; a record
// that was never started holds 0 there, which would turn levels into NaN.
const double* LevelVariations() {
    static double table[kRandomValueCount];
    static const bool built = [] {
        for (std::int32_t draw = 0; draw < kRandomValueCount; ++draw) {
            table[draw] =
                (kVariationCentre - ScaleDraw(draw, kVariationRange, kRandomScale)) /
                kVariationDivisor;
        }
        return true;
    }();
    static_cast<void>(built);
    return table;
}

// The three channels of the shadow colour in pixel byte order (blue first).
struct ShadowColour {
    double channel[3];
};

ShadowColour ShadowColourOf(COLORREF colour) {
    return {{static_cast<double>((colour >> 16) & 0xFFu),  // blue
             static_cast<double>((colour >> 8) & 0xFFu),   // green
             static_cast<double>(colour & 0xFFu)}};        // red
}

constexpr Pixel32 kUntouchedByte = 0xFF000000u;

// One output pixel from its source pixel: each colour byte scaled by the
// level, plus (1 - level) of the shadow colour when there is one. With the
// level in 0..1 neither term leaves 0..255; the mask keeps the byte
// arithmetic modulo 256 all the same. The fourth byte of the output stays.
template <bool kColour>
inline Pixel32 Shade(Pixel32 source, Pixel32 output, float level, const ShadowColour& colour) {
    const double m = level;
    Pixel32 result = output & kUntouchedByte;
    for (int byte = 0; byte < 3; ++byte) {
        const int bit = 8 * byte;
        const double channel = static_cast<double>((source >> bit) & 0xFFu);
        std::uint32_t value = static_cast<std::uint32_t>(channel * m);
        if (kColour) {
            value += static_cast<std::uint32_t>((1.0 - m) * colour.channel[byte]);
        }
        result |= (value & 0xFFu) << bit;
    }
    return result;
}

// Where one band lies: j runs from lastRow down to 0, k from 0 up to
// lastColumn, and position (j, k) is picture pixel
// (columnOrigin + columnStep * k, rowOrigin + j).
struct BandGeometry {
    std::int64_t lastRow;
    std::int64_t lastColumn;
    std::int64_t rowOrigin;
    std::int64_t columnOrigin;
    std::int64_t columnStep;  // +1, or -1 for the left band
};

// Level index rules of the bands.
struct SideBandIndex {  // right and left: fade in over the upper end
    std::int64_t size;
    std::int64_t operator()(std::int64_t j, std::int64_t k) const {
        return j + k < size - 1 ? size - j : k;
    }
};

struct BottomBandIndex {  // tapered left end, square rings in the corner
    std::int64_t size;
    std::int64_t reach;  // W - F: columns beyond it form the corner square
    std::int64_t operator()(std::int64_t j, std::int64_t k) const {
        if (k < size) {
            return j + k < size - 1 ? size - k : j;
        }
        if (k > reach) {
            const std::int64_t c = k - reach;
            return j < c ? c : j;
        }
        return j;
    }
};

struct TopBandIndex {  // graded by rows only
    std::int64_t size;
    std::int64_t operator()(std::int64_t j, std::int64_t) const { return size - 1 - j; }
};

// Levels by index: from the per-call table, or worked out for bands too
// wide to table. Levels that random variation will vary stay unclamped, as
// the variation clamps after it has moved them.
struct TabledLevels {
    const float* table;
    float operator()(std::int64_t index) const { return table[index]; }
};

template <bool kClamp>
struct ComputedLevels {
    float start;
    float step;
    float operator()(std::int64_t index) const {
        const float level = ShadowLevel(index, start, step);
        return kClamp ? ClampShadowLevel(level) : level;
    }
};

// Shaders turn a band position's level index into its output pixel.

// Works each level and each byte out per pixel: for levels that random
// variation moves, and for bands too wide to table their bytes.
template <bool kColour, bool kRandom, class Levels>
class LevelShader {
public:
    LevelShader(Levels levels, const ShadowColour& colour, RandomStream* random)
        : levels_(levels), colour_(colour), random_(random),
          variations_(kRandom ? LevelVariations() : nullptr) {}

    Pixel32 operator()(Pixel32 source, Pixel32 output, std::int64_t index) {
        float level = levels_(index);
        if (kRandom) {
            level = ClampShadowLevel(
                static_cast<float>(static_cast<double>(level) - variations_[random_->Next()]));
        }
        return Shade<kColour>(source, output, level, colour_);
    }
    void Skip(std::uint64_t positions) {
        if (kRandom) {
            random_->Discard(positions);
        }
    }

private:
    Levels levels_;
    ShadowColour colour_;
    RandomStream* random_;
    const double* variations_;
};

// Every byte that one level can give, worked out once per call by Shade's
// own arithmetic.
struct ShadeRow {
    std::uint8_t scaled[256];  // a source byte times the level
    std::uint8_t colour[3];    // (1 - level) of each colour channel, blue first
};

void FillShadeRow(ShadeRow& row, float level, const ShadowColour& colour, bool withColour) {
    const double m = level;
    for (std::uint32_t value = 0; value < 256; ++value) {
        row.scaled[value] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value * m));
    }
    for (int byte = 0; byte < 3; ++byte) {
        row.colour[byte] = withColour ? static_cast<std::uint8_t>(static_cast<std::uint32_t>(
                                            (1.0 - m) * colour.channel[byte]))
                                      : 0;
    }
}

// Looks bytes up in rows of ShadeRow by level index; a flat band has one row.
template <bool kFlat>
class TabledShader {
public:
    explicit TabledShader(const ShadeRow* rows) : rows_(rows) {}

    Pixel32 operator()(Pixel32 source, Pixel32 output, std::int64_t index) const {
        const ShadeRow& row = rows_[kFlat ? 0 : index];
        Pixel32 result = output & kUntouchedByte;
        for (int byte = 0; byte < 3; ++byte) {
            const int bit = 8 * byte;
            const std::uint32_t value = row.scaled[(source >> bit) & 0xFFu] + row.colour[byte];
            result |= (value & 0xFFu) << bit;
        }
        return result;
    }
    void Skip(std::uint64_t) const {}

private:
    const ShadeRow* rows_;
};

// Bands of styles without random variation table the bytes of their levels
// up to this size; the table lives on the stack for the call.
constexpr std::int32_t kShadeTableLargestSize = 64;

// Everything one call needs to reach its pixels, fixed before the first one.
struct ShadeTarget {
    const VBitmap* source;
    const VBitmap* output;
    std::int64_t width;
    std::int64_t height;
};

// Walks bands. Only positions inside the frame are visited; the draws that
// the skipped positions would have taken are discarded in one jump, so the
// random sequence, and every varied level, stays what a walk over all
// positions gives.
template <class Shader>
class BandPainter {
public:
    BandPainter(const ShadeTarget& target, Shader& shader) : target_(target), shader_(shader) {}

    template <class IndexRule>
    void Paint(const BandGeometry& band, IndexRule index) {
        if (band.lastRow < 0 || band.lastColumn < 0) {
            return;
        }
        // Counts of skipped positions may pass 2^64 in product; the generator's
        // period divides 2^32, so arithmetic modulo 2^64 keeps them right.
        const std::uint64_t rowLength = static_cast<std::uint64_t>(band.lastColumn) + 1;
        const std::uint64_t rowCount = static_cast<std::uint64_t>(band.lastRow) + 1;

        const std::int64_t firstRow = std::max<std::int64_t>(0, -band.rowOrigin);
        const std::int64_t lastRow =
            std::min(band.lastRow, target_.height - 1 - band.rowOrigin);
        std::int64_t firstColumn;
        std::int64_t lastColumn;
        if (band.columnStep > 0) {
            firstColumn = std::max<std::int64_t>(0, -band.columnOrigin);
            lastColumn = std::min(band.lastColumn, target_.width - 1 - band.columnOrigin);
        } else {
            firstColumn = std::max<std::int64_t>(0, band.columnOrigin - (target_.width - 1));
            lastColumn = std::min(band.lastColumn, band.columnOrigin);
        }
        if (firstRow > lastRow || firstColumn > lastColumn) {
            shader_.Skip(rowCount * rowLength);
            return;
        }

        const std::uint64_t skippedBefore = static_cast<std::uint64_t>(firstColumn);
        const std::uint64_t skippedAfter = static_cast<std::uint64_t>(band.lastColumn - lastColumn);
        std::uint64_t pending = static_cast<std::uint64_t>(band.lastRow - lastRow) * rowLength;
        for (std::int64_t j = lastRow; j >= firstRow; --j) {
            const std::int64_t y = band.rowOrigin + j;
            const Pixel32* from = PictureRow(*target_.source, static_cast<long>(y));
            Pixel32* to = PictureRow(*target_.output, static_cast<long>(y));
            shader_.Skip(pending + skippedBefore);
            for (std::int64_t k = firstColumn; k <= lastColumn; ++k) {
                const std::int64_t x = band.columnOrigin + band.columnStep * k;
                to[x] = shader_(from[x], to[x], index(j, k));
            }
            pending = skippedAfter;
        }
        shader_.Skip(pending + static_cast<std::uint64_t>(firstRow) * rowLength);
    }

private:
    const ShadeTarget& target_;
    Shader& shader_;
};

// The bands of one shadow, ready to paint.
struct ShadowBands {
    BandGeometry right, bottom, left, top;
    std::int64_t size;
    std::int64_t bottomReach;
    bool sides;  // left and top bands: only with a negative shift
};

template <class Shader>
void PaintBands(const ShadeTarget& target, const ShadowBands& bands, Shader& shader) {
    BandPainter<Shader> painter(target, shader);
    painter.Paint(bands.right, SideBandIndex{bands.size});
    painter.Paint(bands.bottom, BottomBandIndex{bands.size, bands.bottomReach});
    if (bands.sides) {
        painter.Paint(bands.left, SideBandIndex{bands.size});
        painter.Paint(bands.top, TopBandIndex{bands.size});
    }
}

template <bool kRandom, class Levels>
void PaintWithLevels(const ShadeTarget& target, const ShadowBands& bands, Levels levels,
                     const ShadowColour& colour, bool withColour, RandomStream* random) {
    if (withColour) {
        LevelShader<true, kRandom, Levels> shader(levels, colour, random);
        PaintBands(target, bands, shader);
    } else {
        LevelShader<false, kRandom, Levels> shader(levels, colour, random);
        PaintBands(target, bands, shader);
    }
}

// Picks the shader of a style once per call, so nothing per pixel branches
// on the settings.
void PaintStyle(const ShadeTarget& target, const ShadowBands& bands, const ShadowStyle& style,
                float start, float step, const ShadowColour& colour, bool withColour) {
    if (!style.gradient) {
        ShadeRow row;
        FillShadeRow(row, ClampShadowLevel(start), colour, withColour);
        TabledShader<true> shader(&row);
        PaintBands(target, bands, shader);
        return;
    }
    if (!style.randomVariation && bands.size <= kShadeTableLargestSize) {
        ShadeRow rows[kShadeTableLargestSize + 1];
        for (std::int64_t index = 0; index <= bands.size; ++index) {
            FillShadeRow(rows[index], ClampShadowLevel(ShadowLevel(index, start, step)), colour,
                         withColour);
        }
        TabledShader<false> shader(rows);
        PaintBands(target, bands, shader);
        return;
    }
    const bool random = style.randomVariation;
    RandomStream stream;
    if (bands.size <= kLevelTableLargestSize) {
        std::array<float, kLevelTableLargestSize + 1> table;
        for (std::int64_t index = 0; index <= bands.size; ++index) {
            const float level = ShadowLevel(index, start, step);
            table[index] = random ? level : ClampShadowLevel(level);
        }
        if (random) {
            PaintWithLevels<true>(target, bands, TabledLevels{table.data()}, colour, withColour,
                                  &stream);
        } else {
            PaintWithLevels<false>(target, bands, TabledLevels{table.data()}, colour, withColour,
                                   nullptr);
        }
    } else if (random) {
        PaintWithLevels<true>(target, bands, ComputedLevels<false>{start, step}, colour,
                              withColour, &stream);
    } else {
        PaintWithLevels<false>(target, bands, ComputedLevels<true>{start, step}, colour,
                               withColour, nullptr);
    }
}

}  // namespace

float ShadowStartLevel(std::int32_t percent) {
    return static_cast<float>(percent / kPercent);
}

float ShadowLevelStep(float startLevel, std::int32_t size) {
    return static_cast<float>((1.0 - static_cast<double>(startLevel)) / size);
}

float ShadowLevel(std::int64_t index, float startLevel, float step) {
    return static_cast<float>(static_cast<double>(index) * static_cast<double>(step) +
                              static_cast<double>(startLevel));
}

float ClampShadowLevel(float level) {
    if (level < 0.0f) {
        return 0.0f;
    }
    return level > 1.0f ? 1.0f : level;
}

float ScaleDraw(std::int32_t draw, std::int32_t n, float scale) {
    return static_cast<float>(static_cast<double>(draw) * n / static_cast<double>(scale));
}

double ShadowLevelVariation(std::int32_t draw) { return LevelVariations()[draw & kRandomMaximum]; }

float VaryShadowLevel(float level, std::int32_t draw) {
    return ClampShadowLevel(
        static_cast<float>(static_cast<double>(level) - ShadowLevelVariation(draw)));
}

const ShadowStyle& ShadowStyleOf(std::int32_t style) {
    if (style >= 0 && style < kShadowStyleCount) {
        return kShadowStyles[style];
    }
    return style < kFirstFixedShiftStyle ? kUnlistedStyleBelow : kUnlistedStyleAbove;
}

float ScaledRand(std::int32_t n, const FilterData& record) {
    return ScaleDraw(NextRandom(), n, record.randScale);
}

std::int32_t DrawShadow(std::int32_t x, std::int32_t y, std::int32_t W, std::int32_t H,
                        std::int32_t S, std::int32_t style, std::int32_t P, std::int32_t shift,
                        std::int32_t E, const FilterActivation& activation) {
    return DrawShadowWide(x, y, W, H, S, style, P, shift, E, activation);
}

std::int32_t DrawShadowWide(std::int64_t x, std::int64_t y, std::int64_t W, std::int64_t H,
                            std::int32_t S, std::int32_t style, std::int32_t P,
                            std::int32_t shift, std::int64_t E,
                            const FilterActivation& activation) {
    if (W < 2 || H < 2) {
        return 0;
    }
    // A band of no width has nothing to draw and draws no random number.
    if (S <= 0) {
        return 1;
    }
    const ShadowStyle& rule = ShadowStyleOf(style);
    const FilterData& record = RecordOf(activation);

    // Every value below stays within a few times 2^32, far inside 64 bits.
    const std::int64_t size = S;
    const std::int64_t boxLeft = x + E;
    const std::int64_t boxTop = y + E;
    const std::int64_t F = rule.fixedShift ? shift : S;

    ShadowBands bands;
    bands.size = size;
    bands.bottomReach = W - F;
    bands.sides = F < 0;
    bands.right = {H - F - 1, size - 1, boxTop + F, boxLeft + W, 1};
    bands.bottom = {size - 1, W - F + size - 1, boxTop + H, boxLeft + F, 1};
    bands.left = {H - F - 1, size - 1, boxTop + F, boxLeft + F + size, -1};
    bands.top = {size - 1, W - F - size - 1, boxTop + F + 1, boxLeft + F + size, 1};

    const VBitmap& source = activation.src->bitmap;
    const VBitmap& output = activation.dst->bitmap;
    ShadeTarget target;
    target.source = &source;
    target.output = &output;
    // The two bitmaps have one size; the smaller bounds keep a mismatch harmless.
    target.width = std::max(0, std::min(source.w, output.w));
    target.height = std::max(0, std::min(source.h, output.h));

    const float start = ShadowStartLevel(P);
    const float step = ShadowLevelStep(start, S);
    PaintStyle(target, bands, rule, start, step, ShadowColourOf(record.shadowColor),
               record.shadowColor != 0);
    return 1;
}
