#include "ui/config_dialog.h"

// The dialog is not built yet: report that it cannot be shown, as the
// platform does when dialog creation fails.
int HOST_CDECL ConfigProc(FilterActivation*, const FilterFunctions*, HWND) { return -1; }
