// Completion scripts for bash and zsh, made from the runner's option table
// so that every option there is completed. The build writes them with
// quillmere_docs.
#pragma once

#include <string>

std::string BashCompletion();
std::string ZshCompletion();
