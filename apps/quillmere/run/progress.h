// Progress of long work, on stderr and, on request, as key=value blocks
// for programs (--progress). On a terminal one line is redrawn in place;
// where stderr is no terminal (a log, a pipe) a plain line of its own is
// written every few seconds instead, so a log shows the run moving.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

enum class ProgressDisplay {
    None,      // -q
    Terminal,  // one line, redrawn
    Plain,     // a line every period
};

struct ProgressOptions {
    ProgressDisplay display = ProgressDisplay::None;
    std::FILE* report = nullptr;  // where the key=value blocks go, or null
    double periodSeconds = 0;     // between plain lines and blocks; 0: their defaults
};

// The display the command line asks for: none with -q, else by what stderr is.
ProgressDisplay ChooseDisplay(bool quiet);

class Progress {
public:
    // `total` 0 when unknown; `frameRate` in frames per second gives the
    // position in the video that the frames done reach.
    Progress(std::string label, std::int64_t total, double frameRate,
             const ProgressOptions& options);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Shows `done` frames where each channel's period has passed.
    void Update(std::int64_t done);
    // The final count on every channel: the last terminal line (ended), the
    // block with progress=end.
    void Done(std::int64_t done);

    double elapsedSeconds() const;

    // Update and Done as one callback, for work that reports its own progress.
    std::function<void(std::int64_t done, bool finished)> Reporter();

    // The terminal's line.
    static std::string Line(const std::string& label, std::int64_t done, std::int64_t total,
                            double seconds);
    // The plain line for logs: frames, rate, position in the video, speed.
    static std::string PlainLine(const std::string& label, std::int64_t done,
                                 std::int64_t total, double seconds, double frameRate);

private:
    using Clock = std::chrono::steady_clock;

    void DrawTerminalLine(std::int64_t done, Clock::time_point now);

    std::string label_;
    std::int64_t total_;
    double frameRate_;
    ProgressOptions options_;
    Clock::duration plainPeriod_;
    Clock::duration reportPeriod_;
    bool lineOpen_ = false;  // a terminal line without its newline yet
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    Clock::time_point lastPlain_;
    Clock::time_point lastReport_;
};

// True when stderr is a terminal.
bool StderrIsTerminal();
