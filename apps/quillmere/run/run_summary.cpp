#include "apps/quillmere/run/run_summary.h"

#include "hostkit/quoted_text.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>

namespace {
constexpr double kKibibyte = 1024.0;
}  // namespace

std::string ReadableSize(std::int64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < kKibibyte) {
        return std::to_string(bytes) + " B";
    }
    double value = static_cast<double>(bytes) / kKibibyte;
    std::size_t unit = 0;
    while (value >= kKibibyte && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= kKibibyte;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string VideoTime(double seconds) {
    const long long hundredths = std::llround(seconds * 100);
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld", hundredths / 360000,
                  hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
    return text;
}

std::int64_t FileSize(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(status.st_size);
}

namespace {
std::string Written(const std::string& output, std::int64_t outputBytes) {
    if (output.empty()) {
        return "nothing written";
    }
    // Escaped: a name with a line break must not break the one-line summary.
    const std::string name = EscapeControlCharacters(output);
    return outputBytes >= 0 ? name + ", " + ReadableSize(outputBytes) : name;
}
}  // namespace

std::string Counted(std::size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string RenderSummary(std::int64_t frames, double frameRate, double seconds,
                          const std::string& output, std::int64_t outputBytes) {
    const double videoSeconds = frameRate > 0 ? static_cast<double>(frames) / frameRate : 0.0;
    char rates[64] = "";
    if (seconds > 0) {
        std::snprintf(rates, sizeof rates, ", %.1f fps, %.2fx",
                      static_cast<double>(frames) / seconds, videoSeconds / seconds);
    }
    char text[128];
    std::snprintf(text, sizeof text, "quillmere: done: %s (%s of video) in %.1f s%s; ",
                  Counted(static_cast<std::size_t>(frames), "frame").c_str(),
                  VideoTime(videoSeconds).c_str(), seconds,
                  rates);
    return text + Written(output, outputBytes);
}

std::string FrameSummary(std::int64_t frameNumber, double seconds, const std::string& output,
                         std::int64_t outputBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "quillmere: done: frame %lld in %.1f s; ",
                  static_cast<long long>(frameNumber), seconds);
    return text + Written(output, outputBytes);
}
