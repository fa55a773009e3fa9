#include "apps/quillmere/pending_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

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

int Register(const std::string& path) {
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

void Unregister(int slot) {
    if (slot >= 0) {
        g_slotUsed[slot].store(false);
    }
}

// Permissions a newly created file gets under the current umask.
mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

PendingOutput::PendingOutput(const std::string& path) : path_(path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) {
            throw RunnerError("cannot write " + Quoted(path) + ": Is a directory");
        }
        inPlace_ = true;
        writePath_ = path;
        return;
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + name + ".part-XXXXXX";
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
        throw RunnerError("cannot write " + Quoted(path) + ": " + std::strerror(errno));
    }
    fchmod(descriptor, CreationMode());
    close(descriptor);
    writePath_ = pattern;
    slot_ = Register(writePath_);
}

PendingOutput::~PendingOutput() {
    if (!committed_ && !inPlace_) {
        unlink(writePath_.c_str());
    }
    Unregister(slot_);
}

void PendingOutput::Commit() {
    if (!inPlace_ && std::rename(writePath_.c_str(), path_.c_str()) != 0) {
        throw RunnerError("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
    }
    committed_ = true;
}

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() { return g_signal; }

void ThrowIfInterrupted() {
    if (g_signal != 0) {
        throw RunnerError("interrupted");
    }
}
