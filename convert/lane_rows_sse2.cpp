// The matrix rows in SSE2: 16-bit multiply-adds (pmaddwd) into 32-bit sums,
// saturating packs for the clamping. Same bytes as the plain rows; the
// remainder of a row that fills no whole vector goes through them.
#include "convert/lane_rows.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstring>

namespace {

// Two 16-bit coefficients in each 32-bit lane: `low` multiplies the lane's
// low word, `high` its high word.
__m128i Pair(std::int16_t low, std::int16_t high) {
    return _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(low) |
                                                    static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

// Per pixel of (blue, green, red, alpha) words: blue and green in one lane,
// red (alpha ignored) in the next.
__m128i PixelWeights(std::int16_t blue, std::int16_t green, std::int16_t red) {
    return _mm_set_epi16(0, red, green, blue, 0, red, green, blue);
}

// Adds the two lanes of each pixel: [a0 b0 a1 b1] [a2 b2 a3 b3] -> [a+b for 0..3].
__m128i SumLanePairs(__m128i low, __m128i high) {
    const __m128 first = _mm_castsi128_ps(low), second = _mm_castsi128_ps(high);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

__m128i Select(__m128i mask, __m128i chosen, __m128i otherwise) {
    return _mm_or_si128(_mm_and_si128(mask, chosen), _mm_andnot_si128(mask, otherwise));
}

}  // namespace

void YuvRowToBgraSse2(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                      int count, const LaneToRgb& c, std::uint8_t* pixels) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi8(-1);
    const __m128i lumaRed = Pair(c.luma, c.crToRed);
    const __m128i lumaGreen = Pair(c.luma, c.cbToGreen);
    const __m128i crGreen = Pair(c.crToGreen, 0);
    const __m128i lumaBlue = Pair(c.luma, c.cbToBlue);
    const __m128i redBias = _mm_set1_epi32(c.redBias);
    const __m128i greenBias = _mm_set1_epi32(c.greenBias);
    const __m128i blueBias = _mm_set1_epi32(c.blueBias);
    const __m128i shift = _mm_cvtsi32_si128(c.shift);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i));
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i));
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i));
        __m128i red[2], green[2], blue[2];
        for (int half = 0; half < 2; ++half) {
            const __m128i yv = half == 0 ? _mm_unpacklo_epi16(y, v) : _mm_unpackhi_epi16(y, v);
            const __m128i yu = half == 0 ? _mm_unpacklo_epi16(y, u) : _mm_unpackhi_epi16(y, u);
            const __m128i v0 = half == 0 ? _mm_unpacklo_epi16(v, zero) : _mm_unpackhi_epi16(v, zero);
            red[half] = _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(yv, lumaRed), redBias), shift);
            green[half] = _mm_sra_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(yu, lumaGreen), _mm_madd_epi16(v0, crGreen)),
                              greenBias),
                shift);
            blue[half] = _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(yu, lumaBlue), blueBias), shift);
        }
        const __m128i red8 = _mm_packus_epi16(_mm_packs_epi32(red[0], red[1]), zero);
        const __m128i green8 = _mm_packus_epi16(_mm_packs_epi32(green[0], green[1]), zero);
        const __m128i blue8 = _mm_packus_epi16(_mm_packs_epi32(blue[0], blue[1]), zero);
        const __m128i blueGreen = _mm_unpacklo_epi8(blue8, green8);
        const __m128i redAlpha = _mm_unpacklo_epi8(red8, opaque);
        std::uint8_t* target = pixels + static_cast<std::ptrdiff_t>(i) * 4;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm_unpacklo_epi16(blueGreen, redAlpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16),
                         _mm_unpackhi_epi16(blueGreen, redAlpha));
    }
    YuvRowToBgraPlain(luma + i, cb + i, cr + i, count - i, c,
                      pixels + static_cast<std::ptrdiff_t>(i) * 4);
}

namespace {

// Luma of four pixels as 32-bit values (unclamped).
__m128i LumaOfFour(__m128i pixels, __m128i weights, __m128i bias, __m128i shift) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);
    const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);
    return _mm_sra_epi32(_mm_add_epi32(SumLanePairs(low, high), bias), shift);
}

// Eight 16-bit values clamped to the sample range, stored where `mask` is set.
void StoreLuma(__m128i values, __m128i mask, int /*maximum*/, std::uint8_t* luma, std::uint8_t) {
    const __m128i bytes = _mm_packus_epi16(values, values);
    const __m128i byteMask = _mm_packs_epi16(mask, mask);
    const __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(luma), Select(byteMask, bytes, old));
}

void StoreLuma(__m128i values, __m128i mask, int maximum, std::uint8_t* luma, std::uint16_t) {
    const __m128i clamped = _mm_min_epi16(_mm_max_epi16(values, _mm_setzero_si128()),
                                          _mm_set1_epi16(static_cast<std::int16_t>(maximum)));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma), Select(mask, clamped, old));
}

}  // namespace

template <typename Sample>
void BgraRowToLumaSse2(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                       const LaneToYuv& c, std::uint8_t* luma) {
    const __m128i weights = PixelWeights(c.lumaFromBlue, c.lumaFromGreen, c.lumaFromRed);
    const __m128i bias = _mm_set1_epi32(c.lumaBias);
    const __m128i shift = _mm_cvtsi32_si128(c.lumaShift);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4 * i));
        const __m128i second =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4 * i + 16));
        const __m128i values = _mm_packs_epi32(LumaOfFour(first, weights, bias, shift),
                                               LumaOfFour(second, weights, bias, shift));
        const __m128i mask =
            _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(changed + i)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(changed + i + 4)));
        StoreLuma(values, mask, c.maximum, luma + i * sizeof(Sample), Sample{});
    }
    BgraRowToLumaPlain<Sample>(pixels + 4 * i, changed + i, count - i, c,
                               luma + i * sizeof(Sample));
}

namespace {

// Component sums (blue, green, red, alpha words) of two blocks of two
// pixels: the four pixels' words, plus the row below's if there is one.
__m128i PairSums(__m128i first, const std::uint8_t* second, bool hasSecond) {
    const __m128i zero = _mm_setzero_si128();
    __m128i low = _mm_unpacklo_epi8(first, zero);
    __m128i high = _mm_unpackhi_epi8(first, zero);
    if (hasSecond) {
        const __m128i below = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second));
        low = _mm_add_epi16(low, _mm_unpacklo_epi8(below, zero));
        high = _mm_add_epi16(high, _mm_unpackhi_epi8(below, zero));
    }
    low = _mm_add_epi16(low, _mm_srli_si128(low, 8));
    high = _mm_add_epi16(high, _mm_srli_si128(high, 8));
    return _mm_unpacklo_epi64(low, high);
}

// Whether any pixel of each of four blocks changed: [b0 b1 b2 b3] masks.
__m128i BlockMasks(const std::uint32_t* firstChanged, const std::uint32_t* secondChanged) {
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstChanged));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstChanged + 4));
    if (secondChanged != nullptr) {
        low = _mm_or_si128(low, _mm_loadu_si128(reinterpret_cast<const __m128i*>(secondChanged)));
        high = _mm_or_si128(high, _mm_loadu_si128(reinterpret_cast<const __m128i*>(secondChanged + 4)));
    }
    low = _mm_or_si128(low, _mm_shuffle_epi32(low, _MM_SHUFFLE(2, 3, 0, 1)));
    high = _mm_or_si128(high, _mm_shuffle_epi32(high, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_castps_si128(
        _mm_shuffle_ps(_mm_castsi128_ps(low), _mm_castsi128_ps(high), _MM_SHUFFLE(2, 0, 2, 0)));
}

// Four Cb then four Cr (16-bit, unclamped) stored where their block changed.
void StoreChroma(__m128i values, __m128i mask, int /*maximum*/, std::uint8_t* cb, std::uint8_t* cr,
                 std::uint8_t) {
    const __m128i bytes = _mm_packus_epi16(values, values);
    std::int32_t oldCb, oldCr;
    std::memcpy(&oldCb, cb, 4);
    std::memcpy(&oldCr, cr, 4);
    const __m128i old = _mm_unpacklo_epi32(_mm_cvtsi32_si128(oldCb), _mm_cvtsi32_si128(oldCr));
    const __m128i chosen = Select(_mm_packs_epi16(mask, mask), bytes, old);
    const std::int32_t newCb = _mm_cvtsi128_si32(chosen);
    const std::int32_t newCr = _mm_cvtsi128_si32(_mm_srli_si128(chosen, 4));
    std::memcpy(cb, &newCb, 4);
    std::memcpy(cr, &newCr, 4);
}

void StoreChroma(__m128i values, __m128i mask, int maximum, std::uint8_t* cb, std::uint8_t* cr,
                 std::uint16_t) {
    const __m128i clamped = _mm_min_epi16(_mm_max_epi16(values, _mm_setzero_si128()),
                                          _mm_set1_epi16(static_cast<std::int16_t>(maximum)));
    const __m128i old = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
    const __m128i chosen = Select(mask, clamped, old);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), chosen);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), _mm_srli_si128(chosen, 8));
}

}  // namespace

template <typename Sample>
void BgraPairsToChromaSse2(const std::uint8_t* first, const std::uint8_t* second,
                           const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                           int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr) {
    const __m128i cbWeights = PixelWeights(c.cbFromBlue, c.cbFromGreen, c.cbFromRed);
    const __m128i crWeights = PixelWeights(c.crFromBlue, c.crFromGreen, c.crFromRed);
    const __m128i bias = _mm_set1_epi32(c.chromaBias);
    const __m128i shift = _mm_cvtsi32_si128(c.chromaShift);
    const bool hasSecond = second != nullptr;
    int b = 0;
    for (; b + 4 <= blocks; b += 4) {
        const int i = 2 * b;
        const std::ptrdiff_t byte = static_cast<std::ptrdiff_t>(i) * 4;
        const __m128i firstSums =
            PairSums(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + byte)),
                     hasSecond ? second + byte : nullptr, hasSecond);
        const __m128i secondSums =
            PairSums(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + byte + 16)),
                     hasSecond ? second + byte + 16 : nullptr, hasSecond);
        const __m128i blue = _mm_sra_epi32(
            _mm_add_epi32(SumLanePairs(_mm_madd_epi16(firstSums, cbWeights),
                                       _mm_madd_epi16(secondSums, cbWeights)),
                          bias),
            shift);
        const __m128i red = _mm_sra_epi32(
            _mm_add_epi32(SumLanePairs(_mm_madd_epi16(firstSums, crWeights),
                                       _mm_madd_epi16(secondSums, crWeights)),
                          bias),
            shift);
        const __m128i masks = BlockMasks(firstChanged + i, hasSecond ? secondChanged + i : nullptr);
        StoreChroma(_mm_packs_epi32(blue, red), _mm_packs_epi32(masks, masks), c.maximum,
                    cb + b * sizeof(Sample), cr + b * sizeof(Sample), Sample{});
    }
    BgraPairsToChromaPlain<Sample>(first + 8 * b, hasSecond ? second + 8 * b : nullptr,
                                   firstChanged + 2 * b, hasSecond ? secondChanged + 2 * b : nullptr,
                                   blocks - b, c, cb + b * sizeof(Sample), cr + b * sizeof(Sample));
}

namespace {

__m128i LoadEight(const std::uint8_t* samples) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples)),
                             _mm_setzero_si128());
}

__m128i LoadEight(const std::uint16_t* samples) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
}

}  // namespace

template <typename Sample>
void BlendRowsSse2(const Sample* first, const Sample* second, int weightFirst, int weightSecond,
                   int count, std::int16_t* blended) {
    const __m128i firstWeight = _mm_set1_epi16(static_cast<std::int16_t>(weightFirst));
    const __m128i secondWeight = _mm_set1_epi16(static_cast<std::int16_t>(weightSecond));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(LoadEight(first + i), firstWeight),
                                          _mm_mullo_epi16(LoadEight(second + i), secondWeight));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(blended + i), sum);
    }
    BlendRowsPlain(first + i, second + i, weightFirst, weightSecond, count - i, blended + i);
}

void SpreadPairsSse2(const std::int16_t* source, const ChromaTap* taps, int blocks,
                     int inputShift, std::int16_t* line) {
    const std::int16_t* even = source + taps[0].offset;
    const std::int16_t* odd = source + taps[1].offset;
    const __m128i evenFirst = _mm_set1_epi16(static_cast<std::int16_t>(taps[0].weightFirst));
    const __m128i evenSecond = _mm_set1_epi16(static_cast<std::int16_t>(taps[0].weightSecond));
    const __m128i oddFirst = _mm_set1_epi16(static_cast<std::int16_t>(taps[1].weightFirst));
    const __m128i oddSecond = _mm_set1_epi16(static_cast<std::int16_t>(taps[1].weightSecond));
    const __m128i shift = _mm_cvtsi32_si128(inputShift);
    const auto load = [](const std::int16_t* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    int b = 0;
    for (; b + 8 <= blocks; b += 8) {
        const __m128i evenValues = _mm_sll_epi16(
            _mm_add_epi16(_mm_mullo_epi16(load(even + b), evenFirst),
                          _mm_mullo_epi16(load(even + b + 1), evenSecond)),
            shift);
        const __m128i oddValues = _mm_sll_epi16(
            _mm_add_epi16(_mm_mullo_epi16(load(odd + b), oddFirst),
                          _mm_mullo_epi16(load(odd + b + 1), oddSecond)),
            shift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 2 * b),
                         _mm_unpacklo_epi16(evenValues, oddValues));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 2 * b + 8),
                         _mm_unpackhi_epi16(evenValues, oddValues));
    }
    SpreadPairsPlain(source + b, taps, blocks - b, inputShift, line + 2 * b);
}

#else  // no SSE2: the plain rows

template <typename Sample>
void BlendRowsSse2(const Sample* first, const Sample* second, int weightFirst, int weightSecond,
                   int count, std::int16_t* blended) {
    BlendRowsPlain(first, second, weightFirst, weightSecond, count, blended);
}

void SpreadPairsSse2(const std::int16_t* source, const ChromaTap* taps, int blocks,
                     int inputShift, std::int16_t* line) {
    SpreadPairsPlain(source, taps, blocks, inputShift, line);
}

void YuvRowToBgraSse2(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                      int count, const LaneToRgb& c, std::uint8_t* pixels) {
    YuvRowToBgraPlain(luma, cb, cr, count, c, pixels);
}

template <typename Sample>
void BgraRowToLumaSse2(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                       const LaneToYuv& c, std::uint8_t* luma) {
    BgraRowToLumaPlain<Sample>(pixels, changed, count, c, luma);
}

template <typename Sample>
void BgraPairsToChromaSse2(const std::uint8_t* first, const std::uint8_t* second,
                           const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                           int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr) {
    BgraPairsToChromaPlain<Sample>(first, second, firstChanged, secondChanged, blocks, c, cb, cr);
}

#endif

template void BlendRowsSse2<std::uint8_t>(const std::uint8_t*, const std::uint8_t*, int, int, int,
                                          std::int16_t*);
template void BlendRowsSse2<std::uint16_t>(const std::uint16_t*, const std::uint16_t*, int, int,
                                           int, std::int16_t*);
template void BgraRowToLumaSse2<std::uint8_t>(const std::uint8_t*, const std::uint32_t*, int,
                                              const LaneToYuv&, std::uint8_t*);
template void BgraRowToLumaSse2<std::uint16_t>(const std::uint8_t*, const std::uint32_t*, int,
                                               const LaneToYuv&, std::uint8_t*);
template void BgraPairsToChromaSse2<std::uint8_t>(const std::uint8_t*, const std::uint8_t*,
                                                  const std::uint32_t*, const std::uint32_t*, int,
                                                  const LaneToYuv&, std::uint8_t*, std::uint8_t*);
template void BgraPairsToChromaSse2<std::uint16_t>(const std::uint8_t*, const std::uint8_t*,
                                                   const std::uint32_t*, const std::uint32_t*, int,
                                                   const LaneToYuv&, std::uint8_t*,
                                                   std::uint8_t*);

const LaneRowSet& Sse2LaneRows() {
    static const LaneRowSet rows = {
        "SSE2",
        &YuvRowToBgraSse2,
        {&BgraRowToLumaSse2<std::uint8_t>, &BgraPairsToChromaSse2<std::uint8_t>},
        {&BgraRowToLumaSse2<std::uint16_t>, &BgraPairsToChromaSse2<std::uint16_t>},
    };
    return rows;
}
