#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>

void FuzzFailure(const char* target, const std::string& what) {
    std::fprintf(stderr, "%s: property failed: %s\n", target, what.c_str());
    std::abort();
}
