// Machine-readable progress (--progress FILE, or '-' for standard output):
// blocks of key=value lines, each closed by progress=continue, the last by
// progress=end, in the manner of FFmpeg's -progress, so tools that read
// that can read this.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// One block: frame=, fps=, out_time_us=, out_time=, speed=, progress=.
std::string ProgressBlock(std::int64_t frames, double seconds, double frameRate, bool end);

// The stream the blocks go to; none for an empty path.
class ProgressReportFile {
public:
    // Throws RunnerError when the file cannot be written.
    explicit ProgressReportFile(const std::string& path);
    ~ProgressReportFile();
    ProgressReportFile(const ProgressReportFile&) = delete;
    ProgressReportFile& operator=(const ProgressReportFile&) = delete;
    std::FILE* stream() const { return stream_; }
    // Completes the blocks written: throws RunnerError when any of them
    // could not be written (a full disk, a closed pipe), so that lost
    // progress is a failed run rather than a silent one.
    void Close();

private:
    std::string path_;
    std::FILE* stream_ = nullptr;
    bool owned_ = false;
};
