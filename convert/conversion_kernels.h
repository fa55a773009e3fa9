#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/conversion_plan.h"
#include "convert/picture_rect.h"

// The per-picture work of each layout family, picked once per stream.
// Rects are inside the frame; for the BGRA -> picture direction they are on
// the chroma grid. Pixels are 32-bit words: blue, green, red, alpha bytes.

using ToBgraKernel = void (*)(const ConversionPlan& plan, const std::uint8_t* const planes[4],
                              const int linesizes[4], PictureRect rect, std::uint8_t* out,
                              std::ptrdiff_t outStride);
using FromBgraKernel = void (*)(const ConversionPlan& plan, const std::uint8_t* pixels,
                                std::ptrdiff_t stride, const std::uint8_t* original,
                                std::ptrdiff_t originalStride, PictureRect rect,
                                std::uint8_t* const planes[4], const int linesizes[4]);

// Fastest: the narrowest arithmetic that is exact for the stream, any
// specialised kernel and the SSE2 rows; Reference: the plain 64-bit kernels
// with plain rows, which the tests hold the fastest ones to, byte for byte.
enum class KernelChoice { Fastest, Reference };

// The kernels of the plan's layout family.
ToBgraKernel SelectToBgra(const ConversionPlan& plan, KernelChoice choice);
FromBgraKernel SelectFromBgra(const ConversionPlan& plan, KernelChoice choice);

ToBgraKernel SelectYuvToBgra(const ConversionPlan& plan, KernelChoice choice);
FromBgraKernel SelectBgraToYuv(const ConversionPlan& plan, KernelChoice choice);
ToBgraKernel SelectRgbToBgra(const ConversionPlan& plan, KernelChoice choice);
FromBgraKernel SelectBgraToRgb(const ConversionPlan& plan);
ToBgraKernel SelectGrayToBgra(const ConversionPlan& plan, KernelChoice choice);
FromBgraKernel SelectBgraToGray(const ConversionPlan& plan);
