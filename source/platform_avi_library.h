// The platform's AVI file library backend: the Windows library in the 32-bit
// module, FFmpeg in native builds.
#pragma once

#include "source/avi_library.h"

const AviLibrary& PlatformAviLibrary();
