#include "apps/quillmere/progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

std::string Duration(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}
}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

Progress::Progress(std::string label, std::int64_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled),
      start_(std::chrono::steady_clock::now()), lastDrawn_(start_) {}

Progress::~Progress() {
    if (shown_) {
        std::fputc('\n', stderr);
    }
}

std::string Progress::Line(const std::string& label, std::int64_t done, std::int64_t total,
                           double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    char text[160];
    if (total > 0) {
        const std::int64_t shown = done < total ? done : total;
        std::string eta = "--:--";
        if (rate > 0 && done <= total) {
            eta = Duration(static_cast<double>(total - done) / rate);
        }
        std::snprintf(text, sizeof text, "%s: frame %lld/%lld (%d%%)  %.1f fps  ETA %s",
                      label.c_str(), static_cast<long long>(done),
                      static_cast<long long>(total),
                      static_cast<int>(100 * shown / total), rate, eta.c_str());
    } else {
        std::snprintf(text, sizeof text, "%s: frame %lld  %.1f fps", label.c_str(),
                      static_cast<long long>(done), rate);
    }
    return text;
}

void Progress::Update(std::int64_t done) {
    if (!enabled_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDrawn_ < kRedrawInterval) {
        return;
    }
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // \033[K clears what a longer earlier line left.
    std::fprintf(stderr, "\r%s\033[K", Line(label_, done, total_, seconds).c_str());
    std::fflush(stderr);
    shown_ = true;
}

void Progress::Done(std::int64_t done) {
    if (!enabled_) {
        return;
    }
    if (total_ < done) {
        total_ = done;
    }
    shown_ = true;
    lastDrawn_ = start_;  // force the redraw
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r%s\033[K", Line(label_, done, total_, seconds).c_str());
    std::fflush(stderr);
}
