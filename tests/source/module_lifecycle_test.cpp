// A module's whole life with an overlay: load, open overlay files, process
// frames in an instance and in a block copy of it, unload. Everything the
// module opened must be gone after the unload: the handle registry and the
// frame cache are empty and the heap is back where it was. Built with the
// sanitize preset, the leak checker also runs over the program's exit.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's own count of live heap bytes (its runtime has it;
// the header that declares it is not always installed).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "filter/filter_data.h"
#include "filter/module_entry.h"
#include "hostkit/host_services.h"
#include "hostkit/processing_driver.h"
#include "source/avi_library.h"
#include "source/decoded_frame_cache.h"
#include "source/handle_registry.h"
#include "source/overlay_source.h"
#include "tests/source/test_clips.h"

namespace {

std::size_t HeapBytesInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Allocations that FFmpeg and the runtime make once per process and keep
// (codec tables, the logging state) do not count as the module's.
constexpr std::size_t kOneTimeAllocationsSlack = 256 * 1024;

void LiveOneModuleLife(const std::string& h264, const std::string& mjpeg) {
    FilterModule module{};
    int version = 0;
    int compatible = 0;
    ASSERT_EQ(VirtualdubFilterModuleInit2(&module, &HostFilterFunctions(), version, compatible), 0);
    {
        FilterInstance instance(*g_registeredDefinition);
        FilterData& record = instance.recordAs<FilterData>();
        record.maskRight = 40;
        record.maskBottom = 30;

        OpenOverlayFile(h264.c_str(), record);
        ASSERT_NE(record.frameGetter, nullptr);
        {
            ProcessingPass pass(instance, 64, 48);
            for (long frame = 0; frame < 10; ++frame) {
                pass.RunFrame(frame);
            }
        }
        // Fill the frame cache as a reversed overlay would.
        for (long frame = record.overlayLength - 1; frame >= 0; --frame) {
            ASSERT_NE(CurrentAviLibrary().StreamGetFrame(record.frameGetter, frame), nullptr);
        }

        // The host copies the instance; the copy shares the handles, and
        // the original replaces its overlay while the copy still plays.
        FilterInstance copy(instance);
        OpenOverlayFile(mjpeg.c_str(), record);
        {
            ProcessingPass pass(copy, 64, 48);
            pass.RunFrame(3);
        }
        ASSERT_NE(CurrentAviLibrary().StreamGetFrame(copy.recordAs<FilterData>().frameGetter, 7),
                  nullptr);
        ASSERT_GT(TrackedHandleCount(), 6u);
        ASSERT_GT(DecodedFrameCache::Instance().bytesInUse(), 0u);
    }
    VirtualdubFilterModuleDeinit(&module, &HostFilterFunctions());
}

TEST(ModuleLifecycle, UnloadReleasesEverythingTheModuleOpened) {
    const std::string h264 = ClipPath(ClipKindNamed("h264-mp4"));
    const std::string mjpeg = ClipPath(ClipKindNamed("mjpeg"));
    // A first life makes FFmpeg's one-time allocations.
    LiveOneModuleLife(h264, mjpeg);
    const std::size_t before = HeapBytesInUse();

    LiveOneModuleLife(h264, mjpeg);

    EXPECT_EQ(TrackedHandleCount(), 0u);
    EXPECT_EQ(DecodedFrameCache::Instance().entryCount(), 0u);
    EXPECT_EQ(DecodedFrameCache::Instance().bytesInUse(), 0u);
    const std::size_t after = HeapBytesInUse();
    EXPECT_LT(after, before + kOneTimeAllocationsSlack)
        << "the heap grew by " << (after - before) << " bytes over one module life";
}

}  // namespace
