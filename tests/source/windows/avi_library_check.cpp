// The module's overlay source over the Windows AVI file library itself, run
// under Wine: opens numbered clips as the configuration dialog would, then
// reads every frame forward, backward and by jumps, and checks numbers,
// sizes, depths and lengths. The library is initialised here, as the host
// process does before any filter runs.
//
// Arguments: KIND=PATH ..., KIND one of cinepak, msvideo1, raw24,
// raw24-topdown. Exit code 0 when every check holds.
#include <cstdio>
#include <cstring>
#include <string>

#include "filter/filter_data.h"
#include "source/avi_library.h"
#include "source/handle_registry.h"
#include "source/overlay_source.h"
#include "tests/source/frame_numbers.h"

namespace {

int g_failures = 0;

#define CHECK(condition, ...)                                             \
    do {                                                                  \
        if (!(condition)) {                                               \
            ++g_failures;                                                 \
            std::printf("FAILED %s:%d: %s: ", __FILE__, __LINE__, #condition); \
            std::printf(__VA_ARGS__);                                     \
            std::printf("\n");                                            \
        }                                                                 \
    } while (0)

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr long kFrames = 40;

struct Expectation {
    const char* kind;
    int bitCount;   // what the library's default decompressed format is
    bool topDown;   // frames come back with a negative height
    // Wine's frame reader hands back a stale frame after a backward step in
    // an uncompressed stream, so those are read forward only.
    bool randomAccess;
};

const Expectation kExpectations[] = {
    {"cinepak", 24, false, true},
    {"msvideo1", 16, false, true},
    {"raw24", 24, false, false},
    {"raw24-topdown", 24, true, false},
};

// Unix paths as Wine's drive Z: sees them.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

void CheckFrame(const FilterData& record, long number, const Expectation& expected) {
    const void* frame = CurrentAviLibrary().StreamGetFrame(record.frameGetter, number);
    CHECK(frame != nullptr, "%s frame %ld missing", expected.kind, number);
    if (frame == nullptr) {
        return;
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, frame, sizeof header);
    CHECK(header.biBitCount == expected.bitCount, "%s frame %ld depth %d", expected.kind, number,
          header.biBitCount);
    CHECK(header.biHeight == (expected.topDown ? -kHeight : kHeight), "%s frame %ld height %ld",
          expected.kind, number, static_cast<long>(header.biHeight));
    const int shown = NumberInRecord(frame);
    CHECK(shown == number, "%s frame %ld shows %d", expected.kind, number, shown);
}

void CheckClip(const Expectation& expected, const std::string& path) {
    FilterData record;
    std::memset(&record, 0, sizeof record);
    OpenOverlayFile(WindowsPath(path).c_str(), record);
    CHECK(record.aviFile != nullptr && record.aviStream != nullptr && record.frameGetter != nullptr,
          "%s did not open", expected.kind);
    if (record.frameGetter == nullptr) {
        return;
    }
    CHECK(record.overlayWidth == kWidth, "%s width %d", expected.kind, record.overlayWidth);
    CHECK(record.overlayHeight == kHeight, "%s height %d", expected.kind, record.overlayHeight);
    CHECK(record.overlayLength == kFrames, "%s length %d", expected.kind, record.overlayLength);

    for (long n = 0; n < kFrames; ++n) CheckFrame(record, n, expected);
    if (expected.randomAccess) {
        for (long n = kFrames - 1; n >= 0; --n) CheckFrame(record, n, expected);
        for (long n : {17L, 3L, 39L, 0L, 22L, 21L, 23L}) CheckFrame(record, n, expected);
    }
    for (long n : {-1L, kFrames, 100000L}) {
        CHECK(CurrentAviLibrary().StreamGetFrame(record.frameGetter, n) == nullptr,
              "%s frame %ld outside the stream came", expected.kind, n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    AVIFileInit();
    int checked = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string::size_type equals = argument.find('=');
        const std::string kind = argument.substr(0, equals);
        bool known = false;
        for (const Expectation& expected : kExpectations) {
            if (equals != std::string::npos && kind == expected.kind) {
                CheckClip(expected, argument.substr(equals + 1));
                known = true;
                ++checked;
            }
        }
        CHECK(known, "unknown argument %s", argument.c_str());
    }
    CHECK(checked > 0, "no clip given");

    // What an unloading module does: every handle opened above goes.
    ReleaseTrackedHandles();
    CHECK(TrackedHandleCount() == 0, "handles left after release");
    AVIFileExit();

    std::printf("%d clips checked, %d failures\n", checked, g_failures);
    return g_failures == 0 ? 0 : 1;
}
