// Whether an output may replace a file that already exists under its name:
// -y always, -n never; otherwise the user is asked when standard input is a
// terminal, and elsewhere (a script, a pipe, a service) nothing is replaced
// unless -y says so.
#pragma once

#include <cstdio>
#include <string>

enum class OverwritePolicy { Ask, Always, Never };

// Returns whether the output may replace a file that is (or turns up) under
// `path`: PendingOutput::Commit takes it. Throws RunnerError when the file
// exists and must stay. Only regular files count; a device or a pipe is
// written in place without asking.
bool ConfirmOverwrite(const std::string& path, OverwritePolicy policy);

// The question and its answer, on the given streams (the terminal's).
bool AskToOverwrite(const std::string& path, std::FILE* question, std::FILE* answer);
