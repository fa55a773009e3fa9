#include "apps/quillmere/run/progress.h"

#include <unistd.h>

#include "apps/quillmere/run/progress_report.h"
#include "apps/quillmere/run/run_summary.h"

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
// A log gains a line every few seconds: enough to see the run move, few
// enough to read.
constexpr double kPlainLineSeconds = 5.0;
// Programs reading the blocks get them about as often as FFmpeg gives them.
constexpr double kReportSeconds = 0.5;

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

std::chrono::steady_clock::duration Period(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

ProgressDisplay ChooseDisplay(bool quiet) {
    if (quiet) {
        return ProgressDisplay::None;
    }
    return StderrIsTerminal() ? ProgressDisplay::Terminal : ProgressDisplay::Plain;
}

Progress::Progress(std::string label, std::int64_t total, double frameRate,
                   const ProgressOptions& options)
    : label_(std::move(label)), total_(total), frameRate_(frameRate), options_(options),
      plainPeriod_(Period(options.periodSeconds > 0 ? options.periodSeconds
                                                    : kPlainLineSeconds)),
      reportPeriod_(Period(options.periodSeconds > 0 ? options.periodSeconds : kReportSeconds)),
      start_(Clock::now()), lastDrawn_(start_), lastPlain_(start_), lastReport_(start_) {}

Progress::~Progress() {
    if (lineOpen_) {
        std::fputc('\n', stderr);
    }
}

double Progress::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
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

std::string Progress::PlainLine(const std::string& label, std::int64_t done, std::int64_t total,
                                double seconds, double frameRate) {
    const double videoSeconds = frameRate > 0 ? static_cast<double>(done) / frameRate : 0.0;
    char speed[32] = "N/A";
    if (seconds > 0) {
        std::snprintf(speed, sizeof speed, "%.2fx", videoSeconds / seconds);
    }
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    char counted[64];
    if (total > 0) {
        const std::int64_t shown = done < total ? done : total;
        std::snprintf(counted, sizeof counted, "%lld/%lld (%d%%)", static_cast<long long>(done),
                      static_cast<long long>(total), static_cast<int>(100 * shown / total));
    } else {
        std::snprintf(counted, sizeof counted, "%lld", static_cast<long long>(done));
    }
    char text[192];
    std::snprintf(text, sizeof text, "%s: frame %s  %.1f fps  time %s  speed %s", label.c_str(),
                  counted, rate, VideoTime(videoSeconds).c_str(), speed);
    return text;
}

void Progress::DrawTerminalLine(std::int64_t done, Clock::time_point now) {
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // \033[K clears what a longer earlier line left.
    std::fprintf(stderr, "\r%s\033[K", Line(label_, done, total_, seconds).c_str());
    std::fflush(stderr);
    lineOpen_ = true;
}

void Progress::Update(std::int64_t done) {
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    switch (options_.display) {
    case ProgressDisplay::None:
        break;
    case ProgressDisplay::Terminal:
        if (!lineOpen_ || now - lastDrawn_ >= kRedrawInterval) {
            DrawTerminalLine(done, now);
        }
        break;
    case ProgressDisplay::Plain:
        if (now - lastPlain_ >= plainPeriod_) {
            lastPlain_ = now;
            std::fprintf(stderr, "%s\n",
                         PlainLine(label_, done, total_, seconds, frameRate_).c_str());
            std::fflush(stderr);
        }
        break;
    }
    if (options_.report != nullptr && now - lastReport_ >= reportPeriod_) {
        lastReport_ = now;
        std::fputs(ProgressBlock(done, seconds, frameRate_, false).c_str(), options_.report);
        std::fflush(options_.report);
    }
}

void Progress::Done(std::int64_t done) {
    const auto now = Clock::now();
    if (options_.display == ProgressDisplay::Terminal) {
        if (total_ < done) {
            total_ = done;
        }
        DrawTerminalLine(done, now);
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }
    if (options_.report != nullptr) {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::fputs(ProgressBlock(done, seconds, frameRate_, true).c_str(), options_.report);
        std::fflush(options_.report);
    }
}

std::function<void(std::int64_t, bool)> Progress::Reporter() {
    return [this](std::int64_t done, bool finished) {
        if (finished) {
            Done(done);
        } else {
            Update(done);
        }
    };
}
