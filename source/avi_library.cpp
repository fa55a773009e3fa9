#include "source/avi_library.h"

#include "source/platform_avi_library.h"

namespace {
const AviLibrary* g_library = nullptr;
}

const AviLibrary& CurrentAviLibrary() {
    return g_library != nullptr ? *g_library : PlatformAviLibrary();
}

const AviLibrary* UseAviLibrary(const AviLibrary* library) {
    const AviLibrary* previous = g_library;
    g_library = library;
    return previous;
}
