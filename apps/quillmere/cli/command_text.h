// The command line read backwards: the words of a render command that
// parses into the same job, and the plug-in host's script line for a mask.
#pragma once

#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"

// `quillmere render MAIN -o OUTPUT ...` with the options that give `line`'s
// settings (those that differ from the defaults) and its other render
// options (encoding, audio, muxing, streams, orientation, limits). The
// range, offset and start frame must have been resolved into frames, and
// the mask of a --script taken into the settings: the words name neither.
// Fades are given as they were (frames or times). The overwrite policy is left to whoever runs them.
std::vector<std::string> RenderCommandWords(const CommandLine& line);

// The words as one line for a POSIX shell: each word that needs it is
// single-quoted.
std::string ShellCommandLine(const std::vector<std::string>& words);

// `Config(l,t,r,b)`, the line the plug-in writes into the host's script
// for the mask, made by the filter's own script-string procedure.
std::string ConfigLine(const FilterData& settings);
