// The filter's run procedure with every int32 setting of the record
// arbitrary and a stand-in frame reader that serves a frame record a damaged
// file could give (any header size, depth, colour count and size, rows as
// the header lays them out).
// Checks: nothing is read outside the record or written outside the output
// frame (the sanitizer), and the output's row padding is left as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "apps/quillmere/overlay/filter_host.h"
#include "filter/filter_data.h"
#include "fuzz_input.h"
#include "hostkit/processing_driver.h"
#include "source/avi_library.h"

namespace {

constexpr const char* kTarget = "run_proc_fuzzer";
constexpr std::uint8_t kPadding = 0x5A;
const int kDepths[] = {1, 2, 4, 8, 16, 24, 32, 0, 12};

// The frame record the stand-in serves for every frame number.
std::vector<std::uint8_t> g_frame;
bool g_frameMissing = false;

// Where the pixel bits start in a record, as the header lays it out.
std::size_t BitsOffset(const BITMAPINFOHEADER& header) {
    std::size_t offset = header.biSize;
    if (header.biBitCount > 0 && header.biBitCount <= 8) {
        offset += (header.biClrUsed != 0 ? header.biClrUsed : 1u << header.biBitCount) * 4;
    } else if (header.biCompression == BI_BITFIELDS && header.biSize == 40) {
        offset += 12;
    }
    return offset;
}

void BuildFrame(FuzzInput& input) {
    BITMAPINFOHEADER header{};
    header.biSize = static_cast<DWORD>(input.ReadBetween(40, 47));
    header.biWidth = static_cast<LONG>(input.ReadBetween(-4, 40));
    header.biHeight = static_cast<LONG>(input.ReadBetween(-40, 40));
    header.biPlanes = 1;
    header.biBitCount =
        static_cast<WORD>(kDepths[input.ReadBetween(0, sizeof kDepths / sizeof kDepths[0] - 1)]);
    header.biCompression = input.Read<std::uint8_t>() % 4 == 0 ? BI_BITFIELDS : BI_RGB;
    header.biClrUsed = static_cast<DWORD>(input.ReadBetween(0, 300));
    g_frameMissing = input.Read<std::uint8_t>() % 8 == 0;
    const std::size_t width = header.biWidth > 0 ? static_cast<std::size_t>(header.biWidth) : 0;
    const std::size_t height =
        static_cast<std::size_t>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
    const std::size_t depth = header.biBitCount != 0 ? header.biBitCount : 8;
    const std::size_t rowBytes = (width * depth + 31) / 32 * 4;
    g_frame.assign(BitsOffset(header) + rowBytes * height, 0);
    std::memcpy(g_frame.data(), &header, sizeof header);
    for (std::size_t i = sizeof header; i < g_frame.size(); ++i) {
        g_frame[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
}

// The stand-in library: one stream whose every frame is g_frame.
int g_handleObject = 0;
template <typename Handle>
Handle StandInHandle() {
    return reinterpret_cast<Handle>(&g_handleObject);
}

const AviLibrary kStandIn = {
    [](AviFileHandle*, const char*, unsigned) -> long { return -1; },
    [](AviFileHandle, AviStreamHandle*, std::uint32_t, long) -> long { return -1; },
    [](AviStreamHandle) -> long { return 0; },
    [](AviStreamHandle, long, void*, long*) -> long { return -1; },
    [](AviStreamHandle, BITMAPINFOHEADER*) -> FrameGetterHandle { return nullptr; },
    [](FrameGetterHandle, long) -> void* {
        return g_frameMissing ? nullptr : static_cast<void*>(g_frame.data());
    },
    [](AviStreamHandle) -> long { return 12; },
    [](FrameGetterHandle) -> long { return 0; },
    [](AviStreamHandle) -> long { return 0; },
    [](AviFileHandle) -> long { return 0; },
};

// Fills the int32 settings (every field before the overlay path, except the
// random scale that the start procedure sets) from the input.
void FillSettings(FuzzInput& input, FilterData& record) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(&record);
    const std::size_t scale = offsetof(FilterData, randScale);
    const std::size_t afterScale = offsetof(FilterData, shadowOn);
    const std::size_t path = offsetof(FilterData, overlayPath);
    for (std::size_t i = 0; i < path; ++i) {
        if (i < scale || i >= afterScale) {
            bytes[i] = input.Read<std::uint8_t>();
        }
    }
}

struct PaddingView {
    std::uint8_t* lowest;
    std::size_t pitch, rowBytes, rows;
};

PaddingView PaddingOf(const VBitmap& bitmap) {
    const long pitch = bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch;
    auto* data = reinterpret_cast<std::uint8_t*>(bitmap.data);
    if (bitmap.pitch < 0) {
        data -= static_cast<std::size_t>(pitch) * (bitmap.h - 1);
    }
    return {data, static_cast<std::size_t>(pitch), static_cast<std::size_t>(bitmap.w) * 4,
            static_cast<std::size_t>(bitmap.h)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const int width = static_cast<int>(input.ReadBetween(1, 33));
    const int height = static_cast<int>(input.ReadBetween(1, 24));
    const bool withOverlay = input.Read<std::uint8_t>() % 4 != 0;
    BuildFrame(input);

    const AviLibrary* previous = UseAviLibrary(&kStandIn);
    {
        // Each run registers the module and unloads it at the end, as a host
        // does around a session: the filter releases what it tracks only then.
        const FilterModuleSession module;
        FilterInstance instance(module.definition());
        FilterData& record = instance.recordAs<FilterData>();
        if (withOverlay) {
            record.aviStream = StandInHandle<AviStreamHandle>();
            record.frameGetter = StandInHandle<FrameGetterHandle>();
        }
        ProcessingPass pass(instance, width, height);
        FillSettings(input, record);
        const int frames = static_cast<int>(input.ReadBetween(1, 3));
        std::vector<long> numbers;
        for (int i = 0; i < frames; ++i) {
            const bool nearby = input.Read<std::uint8_t>() < 200;
            numbers.push_back(nearby ? static_cast<long>(input.ReadBetween(-2, 40))
                                     : input.Read<std::int32_t>());
        }
        const PaddingView padding = PaddingOf(pass.output().bitmap);
        for (long number : numbers) {
            for (std::size_t row = 0; row < padding.rows; ++row) {
                std::memset(padding.lowest + row * padding.pitch + padding.rowBytes, kPadding,
                            padding.pitch - padding.rowBytes);
            }
            pass.RunFrame(number);
            for (std::size_t row = 0; row < padding.rows; ++row) {
                for (std::size_t i = padding.rowBytes; i < padding.pitch; ++i) {
                    FUZZ_CHECK(padding.lowest[row * padding.pitch + i] == kPadding, kTarget,
                               "the run procedure wrote into row padding");
                }
            }
        }
        pass.Finish();
    }
    UseAviLibrary(previous);
    return 0;
}
