// The progress line on stderr for long work: frames done of the total,
// frames per second and the time left. Shown only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class Progress {
public:
    // `total` 0 when unknown.
    Progress(std::string label, std::int64_t total, bool enabled);
    ~Progress();

    bool enabled() const { return enabled_; }
    // Redraws the line, at most a few times per second.
    void Update(std::int64_t done);
    // Leaves the line on the terminal with the final count.
    void Done(std::int64_t done);

    // The line as it would be shown.
    static std::string Line(const std::string& label, std::int64_t done, std::int64_t total,
                            double seconds);

private:
    std::string label_;
    std::int64_t total_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDrawn_;
};

// True when stderr is a terminal.
bool StderrIsTerminal();
