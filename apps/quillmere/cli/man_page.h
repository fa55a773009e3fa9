// The manual page quillmere(1), in roff, made from the same tables as
// `quillmere --help`. The build writes it with quillmere_docs.
#pragma once

#include <string>

std::string ManPage(const std::string& version);

// Text as roff prints it literally: backslashes, hyphens and a leading dot
// or quote escaped.
std::string RoffText(const std::string& text);
