// What the page gives back: the render command line that reproduces the
// settings, and the plug-in host's script line for the mask.
#pragma once

#include <string>
#include <vector>

#include "apps/quillmere/edit/edit_settings.h"

// The words of `quillmere render MAIN -o OUTPUT ...` with the options that
// give `settings` (only those that change the picture from the defaults),
// then `otherOptions` (encoding and the like, as given at start).
std::vector<std::string> RenderCommandWords(const EditSettings& settings,
                                            const std::string& main, const std::string& output,
                                            const std::vector<std::string>& otherOptions);

// The words as one line for a POSIX shell: each word that needs it is
// single-quoted.
std::string ShellCommandLine(const std::vector<std::string>& words);

// `Config(l,t,r,b)`, the line the plug-in writes into the host's script
// for the mask, made by the filter's own script-string procedure.
std::string ConfigLine(const FilterData& settings);
