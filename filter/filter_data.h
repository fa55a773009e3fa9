// The instance record: everything one instance of the filter knows.
//
// The host allocates it zero-filled, hands it to every procedure through
// `FilterActivation::filter_data` and copies it as a block, so it stays
// trivially copyable and standard-layout, with the fields in this order and
// of these types. A zero record is a valid starting state; the dialog writes
// the defaults when it first opens (`defaultsApplied`). Fields of our own may
// only follow `defaultsApplied`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/filter_interface.h"
#include "host/win_types.h"
#include "source/avi_library.h"

constexpr int kOverlayPathLength = 260;  // the platform's longest path, NUL included

struct FilterData {
    std::int32_t maskLeft;
    std::int32_t maskTop;
    std::int32_t maskRight;
    std::int32_t maskBottom;
    std::int16_t dragLastX;
    std::int16_t dragLastY;
    std::int32_t frameWidth;
    std::int32_t frameHeight;
    std::int32_t currentFrame;
    std::int32_t moveMode;
    std::int32_t fitToFrame;
    std::int32_t maintainBlack;
    std::int32_t editing;
    std::int32_t overlayFrameCounter;
    std::int32_t useFrameRange;
    std::int32_t rangeStart;
    std::int32_t rangeEnd;
    std::int32_t repeatVideo;
    std::int32_t overlayLength;
    std::int32_t borderOn;
    std::int32_t borderSize;
    std::int32_t keepAspect;
    std::int32_t overlayWidth;
    std::int32_t overlayHeight;
    std::int32_t frameOffset;
    std::int32_t reverse;
    std::int32_t bilinear;
    float randScale;
    std::int32_t shadowOn;
    std::int32_t shadowSize;
    std::int32_t shadowPercent;
    std::int32_t shadowType;
    std::int32_t shadowShift;
    COLORREF shadowColor;
    COLORREF borderColor;
    char overlayPath[kOverlayPathLength];
    HWND previewWindow;
    HWND dialogWindow;
    WNDPROC previousPreviewProc;
    IFilterPreview* preview;
    AviFileHandle aviFile;
    AviStreamHandle aviStream;
    FrameGetterHandle frameGetter;
    Pixel32* overlayBits;
    VBitmap* overlayBitmap;
    HDC dialogDC;
    std::int32_t defaultsApplied;
};

static_assert(std::is_trivially_copyable<FilterData>::value, "the host copies records as blocks");
static_assert(std::is_standard_layout<FilterData>::value, "the host sees plain bytes");

#ifdef _WIN32
static_assert(offsetof(FilterData, dragLastX) == 16, "the int16 pair shares one slot");
static_assert(offsetof(FilterData, frameWidth) == 20, "frameWidth");
static_assert(offsetof(FilterData, randScale) == 104, "randScale");
static_assert(offsetof(FilterData, overlayPath) == 136, "overlayPath");
static_assert(offsetof(FilterData, previewWindow) == 396, "previewWindow");
static_assert(offsetof(FilterData, defaultsApplied) == 436, "defaultsApplied");
static_assert(sizeof(FilterData) == 440, "FilterData is 440 bytes in the 32-bit module");
#endif

// The record behind an activation.
inline FilterData& RecordOf(const FilterActivation& activation) {
    return *static_cast<FilterData*>(activation.filter_data);
}
