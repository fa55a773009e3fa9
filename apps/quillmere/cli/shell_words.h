// Words written for a POSIX shell: the command line shown to the user, the
// Slurm script, the completion scripts. Inside single quotes the shell keeps
// every character as it is but the single quote itself, which is closed,
// escaped and reopened ('\'').
#pragma once

#include <string>

// The text as it goes between single quotes, without the quotes.
std::string SingleQuotedText(const std::string& text);

// The text as one single-quoted shell word.
std::string SingleQuotedWord(const std::string& text);
