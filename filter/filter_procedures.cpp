#include "filter/filter_procedures.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "filter/filter_data.h"
#include "render/bitmap_objects.h"
#include "render/random_generator.h"
#include "source/avi_library.h"
#include "source/handle_registry.h"

namespace {

// The output pitch the filter asks for: one row of 32-bit pixels rounded up
// to a multiple of 8 bytes.
long OutputPitch(long width) { return (width * 4 + 7) & ~7L; }

// The host's flag that asks for an output buffer separate from the source.
constexpr long kSeparateOutputBuffer = 1;

const ScriptFunctionDef kScriptFunctions[] = {
    {&ScriptConfig, "Config", "0iiii"},
    {nullptr, nullptr, nullptr},
};

}  // namespace

CScriptObject g_scriptObject = {nullptr, kScriptFunctions, nullptr};

long HOST_CDECL ParamProc(FilterActivation* activation, const FilterFunctions*) {
    FilterData& record = RecordOf(*activation);
    VBitmap& output = activation->dst->bitmap;
    output.pitch = OutputPitch(output.w);
    record.frameWidth = output.w;
    record.frameHeight = output.h;
    return kSeparateOutputBuffer;
}

int HOST_CDECL StartProc(FilterActivation* activation, const FilterFunctions*) {
    FilterData& record = RecordOf(*activation);
    if (record.aviStream != nullptr) {
        record.overlayFrameCounter = 0;
        record.overlayLength = CurrentAviLibrary().StreamLength(record.aviStream);
    }
    // The object this replaces may still be in use by a block copy of the
    // record, so it is not released here.
    record.overlayBitmap = NewBitmapObject();
    TrackBitmapObject(record.overlayBitmap, &ReleaseBitmapObject);
    record.randScale = kRandomScale;
    SeedRandom(static_cast<std::uint32_t>(std::time(nullptr)));
    NextRandom();
    return 0;
}

int HOST_CDECL EndProc(FilterActivation*, const FilterFunctions*) { return 0; }

void HOST_CDECL StringProc(const FilterActivation* activation, const FilterFunctions*,
                           char* buffer) {
    const FilterData& record = RecordOf(*activation);
    std::snprintf(buffer, kDescriptionMaxLength + 1, " (%d,%d - %d,%d)", record.maskLeft,
                  record.maskTop, record.maskRight, record.maskBottom);
}

bool HOST_CDECL FssProc(FilterActivation* activation, const FilterFunctions*, char* buffer,
                        int length) {
    const FilterData& record = RecordOf(*activation);
    // Formatted in full first, then cut to the host's buffer and always
    // terminated there: not every runtime's snprintf terminates a cut line.
    char line[kScriptLineMaxLength + 1];
    const int full = std::snprintf(line, sizeof line, "Config(%d,%d,%d,%d)", record.maskLeft,
                                   record.maskTop, record.maskRight, record.maskBottom);
    if (buffer != nullptr && length > 0 && full >= 0) {
        const int kept = full < length ? full : length - 1;
        std::memcpy(buffer, line, static_cast<std::size_t>(kept));
        buffer[kept] = '\0';
    }
    return true;
}

void HOST_CDECL DeinitProc(FilterActivation*, const FilterFunctions*) {}

void ScriptConfig(IScriptInterpreter*, void* data, CScriptValue* argv, int argc) {
    // The host checks the count against "0iiii"; a caller that does not
    // gets no reads past its arguments.
    if (data == nullptr || argv == nullptr || argc < kConfigArgumentCount) {
        return;
    }
    FilterData& record = RecordOf(*static_cast<const FilterActivation*>(data));
    record.maskLeft = argv[0].value.i;
    record.maskTop = argv[1].value.i;
    record.maskRight = argv[2].value.i;
    record.maskBottom = argv[3].value.i;
}
