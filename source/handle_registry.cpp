#include "source/handle_registry.h"

#include <atomic>
#include <vector>

namespace {

enum class HandleKind { File, Stream, FrameGetter, Bitmap };

struct TrackedHandle {
    HandleKind kind;
    void* handle;
    // The releasing operation of the library that opened the handle, copied
    // so that the library record need not outlive the registration.
    long (*releaseFile)(AviFileHandle);
    long (*releaseStream)(AviStreamHandle);
    long (*closeFrameGetter)(FrameGetterHandle);
    void (*releaseBitmap)(VBitmap*);
};

// Registrations come from the dialog's and the processing threads of the
// host; the lock keeps the list whole when they overlap. A spin lock, since
// the 32-bit runtime has no std::mutex and the hold is a push_back.
class SpinLock {
public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class Hold {
public:
    explicit Hold(SpinLock& lock) : lock_(lock) { lock_.lock(); }
    ~Hold() { lock_.unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    SpinLock& lock_;
};

SpinLock g_lock;
std::vector<TrackedHandle>& Handles() {
    static std::vector<TrackedHandle> handles;
    return handles;
}

void Track(const TrackedHandle& entry) {
    if (entry.handle == nullptr) {
        return;
    }
    Hold hold(g_lock);
    Handles().push_back(entry);
}

void Release(const TrackedHandle& entry) {
    switch (entry.kind) {
    case HandleKind::File:
        if (entry.releaseFile != nullptr) {
            entry.releaseFile(static_cast<AviFileHandle>(entry.handle));
        }
        break;
    case HandleKind::Stream:
        if (entry.releaseStream != nullptr) {
            entry.releaseStream(static_cast<AviStreamHandle>(entry.handle));
        }
        break;
    case HandleKind::FrameGetter:
        if (entry.closeFrameGetter != nullptr) {
            entry.closeFrameGetter(static_cast<FrameGetterHandle>(entry.handle));
        }
        break;
    case HandleKind::Bitmap:
        if (entry.releaseBitmap != nullptr) {
            entry.releaseBitmap(static_cast<VBitmap*>(entry.handle));
        }
        break;
    }
}

}  // namespace

void TrackAviFile(AviFileHandle file, const AviLibrary& library) {
    Track({HandleKind::File, file, library.FileRelease, nullptr, nullptr, nullptr});
}

void TrackAviStream(AviStreamHandle stream, const AviLibrary& library) {
    Track({HandleKind::Stream, stream, nullptr, library.StreamRelease, nullptr, nullptr});
}

void TrackFrameGetter(FrameGetterHandle reader, const AviLibrary& library) {
    Track({HandleKind::FrameGetter, reader, nullptr, nullptr, library.GetFrameClose, nullptr});
}

void TrackBitmapObject(VBitmap* bitmap, void (*release)(VBitmap*)) {
    Track({HandleKind::Bitmap, bitmap, nullptr, nullptr, nullptr, release});
}

void ReleaseTrackedHandles() {
    std::vector<TrackedHandle> handles;
    {
        Hold hold(g_lock);
        handles.swap(Handles());
    }
    for (auto entry = handles.rbegin(); entry != handles.rend(); ++entry) {
        Release(*entry);
    }
}

std::size_t TrackedHandleCount() {
    Hold hold(g_lock);
    return Handles().size();
}
