// The two kinds of failure the runner reports: a command line it cannot
// use, and a job that cannot be done. Each becomes one line on stderr.
#pragma once

#include <stdexcept>
#include <string>

// A bad command line: an unknown option, a missing or malformed value.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Anything that stops a job: unreadable input, unwritable output, a codec
// that refuses the stream, an interruption.
class RunnerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit codes.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Conventional shell codes for a job stopped by a signal (128 + signal).
constexpr int kExitSignalBase = 128;
