#include "apps/quillmere/run/progress_report.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {
constexpr std::int64_t kMicroseconds = 1000000;
constexpr const char* kStandardOutput = "-";
}  // namespace

std::string ProgressBlock(std::int64_t frames, double seconds, double frameRate, bool end) {
    const std::int64_t videoMicroseconds =
        frameRate > 0 ? std::llround(static_cast<double>(frames) * kMicroseconds / frameRate)
                      : 0;
    const std::int64_t wholeSeconds = videoMicroseconds / kMicroseconds;
    char text[256];
    char speed[32] = "N/A";
    if (seconds > 0) {
        std::snprintf(speed, sizeof speed, "%.3gx",
                      static_cast<double>(videoMicroseconds) / kMicroseconds / seconds);
    }
    std::snprintf(text, sizeof text,
                  "frame=%lld\nfps=%.2f\nout_time_us=%lld\nout_time=%02lld:%02lld:%02lld.%06lld\n"
                  "speed=%s\nprogress=%s\n",
                  static_cast<long long>(frames),
                  seconds > 0 ? static_cast<double>(frames) / seconds : 0.0,
                  static_cast<long long>(videoMicroseconds),
                  static_cast<long long>(wholeSeconds / 3600),
                  static_cast<long long>(wholeSeconds / 60 % 60),
                  static_cast<long long>(wholeSeconds % 60),
                  static_cast<long long>(videoMicroseconds % kMicroseconds), speed,
                  end ? "end" : "continue");
    return text;
}

ProgressReportFile::ProgressReportFile(const std::string& path) : path_(path) {
    if (path.empty()) {
        return;
    }
    if (path == kStandardOutput) {
        stream_ = stdout;
        return;
    }
    stream_ = std::fopen(path.c_str(), "w");
    if (stream_ == nullptr) {
        throw RunnerError("cannot write progress to " + Quoted(path) + ": " + std::strerror(errno));
    }
    owned_ = true;
}

ProgressReportFile::~ProgressReportFile() {
    if (owned_ && stream_ != nullptr) {
        std::fclose(stream_);
    }
}

void ProgressReportFile::Close() {
    if (stream_ == nullptr) {
        return;
    }
    std::FILE* stream = stream_;
    stream_ = nullptr;
    bool failed = std::fflush(stream) != 0 || std::ferror(stream) != 0;
    int error = errno;
    if (owned_ && std::fclose(stream) != 0 && !failed) {
        failed = true;
        error = errno;
    }
    if (failed) {
        throw RunnerError("cannot write progress to " + Quoted(path_) + ": " +
                          std::strerror(error != 0 ? error : EIO));
    }
}
