// An output file that appears under its name only when it is complete.
//
// The data goes to a new hidden part file beside the requested one,
// ".NAME.part-XXXXXX", and is renamed over it by Commit. Destroying an
// uncommitted output removes the part file, and so does a second interrupt
// signal during a run (see interruption.h). The run holds a lock (flock) on its part file; a
// part file of the same output that no run holds was left by a killed run,
// and the next run to that output removes it.
#pragma once

#include <string>

class PendingOutput {
public:
    // Creates the temporary file; throws RunnerError when the folder cannot
    // be written. A path that names an existing non-regular file (a device
    // such as /dev/null, a pipe) is written in place.
    explicit PendingOutput(const std::string& path);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& path() const { return path_; }
    // Where to write the data until Commit.
    const std::string& writePath() const { return writePath_; }
    // Moves the data under the output's name. Without `mayReplace` a file
    // that has turned up under that name meanwhile stays, and Commit throws.
    void Commit(bool mayReplace);

private:
    std::string path_;
    std::string writePath_;
    int slot_ = -1;  // registration for the signal handler
    int lock_ = -1;  // the part file, held open with its lock
    bool inPlace_ = false;
    bool committed_ = false;
};
