// The matrix rows in AVX2, built for AVX2 alone and run only where the
// processor has it. Each 128-bit half of a register does what one SSE2
// register does in lane_rows_sse2.cpp, on the next group of pixels, so the
// arithmetic and the bytes are the same; the halves are put in row order
// when stored. Remainders go through the SSE2 rows.
#include "convert/lane_rows.h"

#if defined(__AVX2__)

#include <immintrin.h>

namespace {

// Two 128-bit loads as the low and high halves of one register.
__m256i LoadHalves(const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
        _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

__m256i Pair(std::int16_t low, std::int16_t high) {
    return _mm256_set1_epi32(static_cast<std::int32_t>(
        static_cast<std::uint16_t>(low) |
        static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

__m256i PixelWeights(std::int16_t blue, std::int16_t green, std::int16_t red) {
    return _mm256_set_epi16(0, red, green, blue, 0, red, green, blue, 0, red, green, blue, 0, red,
                            green, blue);
}

__m256i SumLanePairs(__m256i low, __m256i high) {
    const __m256 first = _mm256_castsi256_ps(low), second = _mm256_castsi256_ps(high);
    const __m256i even =
        _mm256_castps_si256(_mm256_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i odd =
        _mm256_castps_si256(_mm256_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm256_add_epi32(even, odd);
}

__m256i Select(__m256i mask, __m256i chosen, __m256i otherwise) {
    return _mm256_blendv_epi8(otherwise, chosen, mask);
}

__m128i Select(__m128i mask, __m128i chosen, __m128i otherwise) {
    return _mm_blendv_epi8(otherwise, chosen, mask);
}

__m256i LumaOfFour(__m256i pixels, __m256i weights, __m256i bias, __m128i shift) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi8(pixels, zero), weights);
    const __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi8(pixels, zero), weights);
    return _mm256_sra_epi32(_mm256_add_epi32(SumLanePairs(low, high), bias), shift);
}

// Sixteen 16-bit values (eight per half, in row order) stored where `mask` is set.
void StoreLuma(__m256i values, __m256i mask, int /*maximum*/, std::uint8_t* luma, std::uint8_t) {
    // Each half's eight bytes, then both halves' side by side.
    const __m128i bytes = _mm256_castsi256_si128(
        _mm256_permute4x64_epi64(_mm256_packus_epi16(values, values), _MM_SHUFFLE(3, 1, 2, 0)));
    const __m128i byteMask = _mm256_castsi256_si128(
        _mm256_permute4x64_epi64(_mm256_packs_epi16(mask, mask), _MM_SHUFFLE(3, 1, 2, 0)));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma), Select(byteMask, bytes, old));
}

void StoreLuma(__m256i values, __m256i mask, int maximum, std::uint8_t* luma, std::uint16_t) {
    const __m256i clamped =
        _mm256_min_epi16(_mm256_max_epi16(values, _mm256_setzero_si256()),
                         _mm256_set1_epi16(static_cast<std::int16_t>(maximum)));
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma), Select(mask, clamped, old));
}

__m256i PairSums(__m256i first, __m256i below, bool hasBelow) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i low = _mm256_unpacklo_epi8(first, zero);
    __m256i high = _mm256_unpackhi_epi8(first, zero);
    if (hasBelow) {
        low = _mm256_add_epi16(low, _mm256_unpacklo_epi8(below, zero));
        high = _mm256_add_epi16(high, _mm256_unpackhi_epi8(below, zero));
    }
    low = _mm256_add_epi16(low, _mm256_srli_si256(low, 8));
    high = _mm256_add_epi16(high, _mm256_srli_si256(high, 8));
    return _mm256_unpacklo_epi64(low, high);
}

// Whether any pixel of each of eight blocks changed; the low half holds
// blocks 0-3 and the high half 4-7.
__m256i BlockMasks(const std::uint32_t* firstChanged, const std::uint32_t* secondChanged) {
    __m256i low = LoadHalves(firstChanged, firstChanged + 8);
    __m256i high = LoadHalves(firstChanged + 4, firstChanged + 12);
    if (secondChanged != nullptr) {
        low = _mm256_or_si256(low, LoadHalves(secondChanged, secondChanged + 8));
        high = _mm256_or_si256(high, LoadHalves(secondChanged + 4, secondChanged + 12));
    }
    low = _mm256_or_si256(low, _mm256_shuffle_epi32(low, _MM_SHUFFLE(2, 3, 0, 1)));
    high = _mm256_or_si256(high, _mm256_shuffle_epi32(high, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(low),
                                                 _mm256_castsi256_ps(high),
                                                 _MM_SHUFFLE(2, 0, 2, 0)));
}

// Each half holds four Cb then four Cr words, the low half for blocks 0-3.
void StoreChroma(__m256i values, __m256i mask, int /*maximum*/, std::uint8_t* cb, std::uint8_t* cr,
                 std::uint8_t) {
    // Bytes as Cb 0-3, Cb 4-7, Cr 0-3, Cr 4-7.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m128i bytes = _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(values, values), order));
    const __m128i byteMask = _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(_mm256_packs_epi16(mask, mask), order));
    const __m128i old = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)));
    const __m128i chosen = Select(byteMask, bytes, old);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), chosen);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), _mm_srli_si128(chosen, 8));
}

void StoreChroma(__m256i values, __m256i mask, int maximum, std::uint8_t* cb, std::uint8_t* cr,
                 std::uint16_t) {
    const __m256i clamped =
        _mm256_min_epi16(_mm256_max_epi16(values, _mm256_setzero_si256()),
                         _mm256_set1_epi16(static_cast<std::int16_t>(maximum)));
    // Words as Cb 0-7, then Cr 0-7.
    const __m256i ordered = _mm256_permute4x64_epi64(clamped, _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i orderedMask = _mm256_permute4x64_epi64(mask, _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i old = LoadHalves(cb, cr);
    const __m256i chosen = Select(orderedMask, ordered, old);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb), _mm256_castsi256_si128(chosen));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr), _mm256_extracti128_si256(chosen, 1));
}

}  // namespace

void YuvRowToBgraAvx2(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                      int count, const LaneToRgb& c, std::uint8_t* pixels) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i opaque = _mm256_set1_epi8(-1);
    const __m256i lumaRed = Pair(c.luma, c.crToRed);
    const __m256i lumaGreen = Pair(c.luma, c.cbToGreen);
    const __m256i crGreen = Pair(c.crToGreen, 0);
    const __m256i lumaBlue = Pair(c.luma, c.cbToBlue);
    const __m256i redBias = _mm256_set1_epi32(c.redBias);
    const __m256i greenBias = _mm256_set1_epi32(c.greenBias);
    const __m256i blueBias = _mm256_set1_epi32(c.blueBias);
    const __m128i shift = _mm_cvtsi32_si128(c.shift);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + i));
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + i));
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + i));
        __m256i red[2], green[2], blue[2];
        for (int half = 0; half < 2; ++half) {
            const __m256i yv = half == 0 ? _mm256_unpacklo_epi16(y, v) : _mm256_unpackhi_epi16(y, v);
            const __m256i yu = half == 0 ? _mm256_unpacklo_epi16(y, u) : _mm256_unpackhi_epi16(y, u);
            const __m256i v0 =
                half == 0 ? _mm256_unpacklo_epi16(v, zero) : _mm256_unpackhi_epi16(v, zero);
            red[half] = _mm256_sra_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(yv, lumaRed), redBias), shift);
            green[half] = _mm256_sra_epi32(
                _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(yu, lumaGreen),
                                                  _mm256_madd_epi16(v0, crGreen)),
                                 greenBias),
                shift);
            blue[half] = _mm256_sra_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(yu, lumaBlue), blueBias), shift);
        }
        const __m256i red8 = _mm256_packus_epi16(_mm256_packs_epi32(red[0], red[1]), zero);
        const __m256i green8 = _mm256_packus_epi16(_mm256_packs_epi32(green[0], green[1]), zero);
        const __m256i blue8 = _mm256_packus_epi16(_mm256_packs_epi32(blue[0], blue[1]), zero);
        const __m256i blueGreen = _mm256_unpacklo_epi8(blue8, green8);
        const __m256i redAlpha = _mm256_unpacklo_epi8(red8, opaque);
        // Low half: pixels 0-3 and 8-11; high half: 4-7 and 12-15.
        const __m256i low = _mm256_unpacklo_epi16(blueGreen, redAlpha);
        const __m256i high = _mm256_unpackhi_epi16(blueGreen, redAlpha);
        std::uint8_t* target = pixels + static_cast<std::ptrdiff_t>(i) * 4;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target),
                            _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + 32),
                            _mm256_permute2x128_si256(low, high, 0x31));
    }
    YuvRowToBgraSse2(luma + i, cb + i, cr + i, count - i, c,
                     pixels + static_cast<std::ptrdiff_t>(i) * 4);
}

template <typename Sample>
void BgraRowToLumaAvx2(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                       const LaneToYuv& c, std::uint8_t* luma) {
    const __m256i weights = PixelWeights(c.lumaFromBlue, c.lumaFromGreen, c.lumaFromRed);
    const __m256i bias = _mm256_set1_epi32(c.lumaBias);
    const __m128i shift = _mm_cvtsi32_si128(c.lumaShift);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const std::uint8_t* at = pixels + 4 * i;
        // Low halves: pixels 0-3 and 4-7; high halves: 8-11 and 12-15.
        const __m256i first = LoadHalves(at, at + 32);
        const __m256i second = LoadHalves(at + 16, at + 48);
        const __m256i values = _mm256_packs_epi32(LumaOfFour(first, weights, bias, shift),
                                                  LumaOfFour(second, weights, bias, shift));
        const __m256i mask = _mm256_packs_epi32(LoadHalves(changed + i, changed + i + 8),
                                                LoadHalves(changed + i + 4, changed + i + 12));
        StoreLuma(values, mask, c.maximum, luma + i * sizeof(Sample), Sample{});
    }
    BgraRowToLumaSse2<Sample>(pixels + 4 * i, changed + i, count - i, c,
                              luma + i * sizeof(Sample));
}

template <typename Sample>
void BgraPairsToChromaAvx2(const std::uint8_t* first, const std::uint8_t* second,
                           const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                           int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr) {
    const __m256i cbWeights = PixelWeights(c.cbFromBlue, c.cbFromGreen, c.cbFromRed);
    const __m256i crWeights = PixelWeights(c.crFromBlue, c.crFromGreen, c.crFromRed);
    const __m256i bias = _mm256_set1_epi32(c.chromaBias);
    const __m128i shift = _mm_cvtsi32_si128(c.chromaShift);
    const bool hasSecond = second != nullptr;
    const __m256i none = _mm256_setzero_si256();
    int b = 0;
    for (; b + 8 <= blocks; b += 8) {
        const int i = 2 * b;
        const std::ptrdiff_t byte = static_cast<std::ptrdiff_t>(i) * 4;
        // Low halves: blocks 0-1 and 2-3; high halves: 4-5 and 6-7.
        const __m256i firstSums =
            PairSums(LoadHalves(first + byte, first + byte + 32),
                     hasSecond ? LoadHalves(second + byte, second + byte + 32) : none, hasSecond);
        const __m256i secondSums = PairSums(
            LoadHalves(first + byte + 16, first + byte + 48),
            hasSecond ? LoadHalves(second + byte + 16, second + byte + 48) : none, hasSecond);
        const __m256i blue = _mm256_sra_epi32(
            _mm256_add_epi32(SumLanePairs(_mm256_madd_epi16(firstSums, cbWeights),
                                          _mm256_madd_epi16(secondSums, cbWeights)),
                             bias),
            shift);
        const __m256i red = _mm256_sra_epi32(
            _mm256_add_epi32(SumLanePairs(_mm256_madd_epi16(firstSums, crWeights),
                                          _mm256_madd_epi16(secondSums, crWeights)),
                             bias),
            shift);
        const __m256i masks =
            BlockMasks(firstChanged + i, hasSecond ? secondChanged + i : nullptr);
        StoreChroma(_mm256_packs_epi32(blue, red), _mm256_packs_epi32(masks, masks), c.maximum,
                    cb + b * sizeof(Sample), cr + b * sizeof(Sample), Sample{});
    }
    BgraPairsToChromaSse2<Sample>(first + 8 * b, hasSecond ? second + 8 * b : nullptr,
                                  firstChanged + 2 * b,
                                  hasSecond ? secondChanged + 2 * b : nullptr, blocks - b, c,
                                  cb + b * sizeof(Sample), cr + b * sizeof(Sample));
}

const LaneRowSet kAvx2LaneRows = {
    "AVX2",
    &YuvRowToBgraAvx2,
    {&BgraRowToLumaAvx2<std::uint8_t>, &BgraPairsToChromaAvx2<std::uint8_t>},
    {&BgraRowToLumaAvx2<std::uint16_t>, &BgraPairsToChromaAvx2<std::uint16_t>},
};

const LaneRowSet* Avx2LaneRows() { return &kAvx2LaneRows; }

#else  // a compiler that cannot build for AVX2

const LaneRowSet* Avx2LaneRows() { return nullptr; }

#endif
