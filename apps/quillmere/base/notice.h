// Where a stage says once what it had to change or could not keep (an
// unusual pixel format converted, a tag a container cannot hold). Stages
// take the handler from their caller; the runner's own prints on stderr.
#pragma once

#include <string>

using NoticeHandler = void (*)(const std::string& text);

// The runner's notice: one line on stderr, after the program's name.
void PrintNotice(const std::string& text);
