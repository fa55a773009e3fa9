// Choosing the overlay file and opening it: its first video stream, frame
// reader, frame size and length, left in the instance record for the start
// and run procedures and shown in the configuration dialog.
//
// Both operations run on the dialog's thread. Nothing is reported: a failing
// step stops the open quietly, and what the record and the dialog show tells
// how far it got.
#pragma once

#include <cstdint>

#include "host/win_types.h"

struct FilterData;

// Dialog controls that show what was opened.
constexpr int kOverlayLengthControl = 1027;  // frame count, unsigned decimal
constexpr int kOverlaySizeControl = 1028;    // "%d x %d"

// The chooser path buffer: the platform's longest path, NUL included.
constexpr int kChooserPathLength = 260;

// OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING.
// The file itself need not exist, only its folder.
constexpr std::uint32_t kOverlayChooserFlags = 0x00880804;
constexpr const char* kOverlayChooserTitle = "Select AVI";
// Description and pattern pairs, each string NUL-terminated, closed by one
// more NUL (the array's own terminator).
constexpr char kOverlayChooserFilter[] =
    "AVI file (*.avi,*.avs)\0*.avi;*.avs\0All files (*.*)\0*.*\0";
constexpr std::uint32_t kOverlayChooserFirstFilter = 1;

// Shows the file-open chooser over `owner`, starting from `initialPath` (null
// keeps what the last call left). Returns the module-wide path buffer with the
// chosen path, or null when the user cancelled or the chooser failed. The
// buffer is shared by every instance: copy the path out before the next call.
const char* ChooseOverlayFile(HWND owner, const char* initialPath);

// Opens `path` through the AVI file library and fills the record's overlay
// handles, size and length, then shows length and size in the dialog
// (`record.dialogWindow`). Stops at the first failing step; the fields not yet
// written keep their values.
void OpenOverlayFile(const char* path, FilterData& record);
