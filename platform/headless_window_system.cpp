// Native builds have no window system of their own: the base class, which
// finds no windows and does nothing, serves.
#include "platform/window_system.h"

WindowSystem& PlatformWindowSystem() {
    static WindowSystem headless;
    return headless;
}
