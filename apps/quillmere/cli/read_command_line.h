// The command line as the runner takes it: the options, laid over the
// settings file that --settings names. An option given on the command line
// wins over the file; a mask, script or placement given there replaces the
// file's mask or placement whole.
#pragma once

#include "apps/quillmere/cli/command_line.h"

// Throws UsageError for a bad command line or settings file, RunnerError
// for a settings file that cannot be read. edit may name a settings file
// that does not exist yet: its Save makes it.
CommandLine ReadCommandLine(int argc, const char* const* argv);
