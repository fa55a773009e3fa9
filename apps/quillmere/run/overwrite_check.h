// Whether an output may replace a file that already exists under its name,
// by the request's OverwritePolicy.
#pragma once

#include <cstdio>
#include <string>

#include "apps/quillmere/plan/request.h"

// Returns whether the output may replace a file that is (or turns up) under
// `path`: PendingOutput::Commit takes it. Throws RunnerError when the file
// exists and must stay. Only regular files count; a device or a pipe is
// written in place without asking.
bool ConfirmOverwrite(const std::string& path, OverwritePolicy policy);

// The question and its answer, on the given streams (the terminal's).
bool AskToOverwrite(const std::string& path, std::FILE* question, std::FILE* answer);
