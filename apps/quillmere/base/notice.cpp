#include "apps/quillmere/base/notice.h"

#include <cstdio>

void PrintNotice(const std::string& text) { std::fprintf(stderr, "quillmere: %s\n", text.c_str()); }
