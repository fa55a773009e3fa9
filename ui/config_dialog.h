// The configuration procedure: runs the modal dialog that edits an instance.
#pragma once

#include "host/filter_interface.h"

// 0 when the dialog ended with OK, 1 with Cancel, else what the platform
// reported when the dialog could not be shown.
int HOST_CDECL ConfigProc(FilterActivation* activation, const FilterFunctions* functions,
                          HWND parent);
