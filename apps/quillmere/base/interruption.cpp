#include "apps/quillmere/base/interruption.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "apps/quillmere/runner_error.h"

namespace {

// Temporary names the signal handler may have to remove. Plain fixed
// buffers: a handler may only use what is safe in a signal.
constexpr int kPendingSlots = 8;
constexpr std::size_t kPathCapacity = 4096;
char g_pendingPaths[kPendingSlots][kPathCapacity];
std::atomic<bool> g_slotUsed[kPendingSlots];

volatile std::sig_atomic_t g_signal = 0;

void OnInterrupt(int signal) {
    if (g_signal != 0) {
        // Second request: the job did not stop in time; stop now, cleanly.
        for (int slot = 0; slot < kPendingSlots; ++slot) {
            if (g_slotUsed[slot].load()) {
                unlink(g_pendingPaths[slot]);
            }
        }
        _exit(kExitSignalBase + signal);
    }
    g_signal = signal;
}

}  // namespace

int RegisterPartFile(const std::string& path) {
    if (path.size() >= kPathCapacity) {
        return -1;
    }
    for (int slot = 0; slot < kPendingSlots; ++slot) {
        if (!g_slotUsed[slot].load()) {
            std::memcpy(g_pendingPaths[slot], path.c_str(), path.size() + 1);
            g_slotUsed[slot].store(true);
            return slot;
        }
    }
    return -1;
}

void UnregisterPartFile(int slot) {
    if (slot >= 0) {
        g_slotUsed[slot].store(false);
    }
}

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    // A closed terminal (SIGHUP) and Ctrl-\ (SIGQUIT) end a run as Ctrl-C does.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signal, &action, nullptr);
    }
}

int InterruptSignal() { return g_signal; }

void ThrowIfInterrupted() {
    if (g_signal != 0) {
        throw RunnerError("interrupted");
    }
}
