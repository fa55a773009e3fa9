#include "render/frame_compositor.h"

// The compositor is being written; until then a frame passes through as the
// host's source copy would leave it.
int HOST_CDECL RunProc(const FilterActivation*, const FilterFunctions*) { return 0; }
