/* Ids of the configuration dialog's resource and controls. Plain #defines
   so that the resource script can include this file as well as C++. */
#ifndef QUILLMERE_UI_DIALOG_IDS_H
#define QUILLMERE_UI_DIALOG_IDS_H

#define IDD_CONFIGURATION 101

/* IDOK (1) and IDCANCEL (2) are the platform's. */
#define IDC_PREVIEW 1002
#define IDC_DRAW 1003
#define IDC_MOVE 1005
#define IDC_FIT_TO_FRAME 1006
#define IDC_READOUT_TOP 1007
#define IDC_READOUT_RIGHT 1008
#define IDC_READOUT_LEFT 1009
#define IDC_READOUT_BOTTOM 1010
#define IDC_STATUS 1011
#define IDC_OVERLAY_PATH 1012
#define IDC_CHOOSE_OVERLAY 1013
#define IDC_MASK_TEXT 1015
#define IDC_USE_FRAME_RANGE 1016
#define IDC_FRAME_RANGE 1017
#define IDC_REPEAT_VIDEO 1018
#define IDC_MAINTAIN_BLACK 1019
#define IDC_BORDER 1020
#define IDC_BORDER_SIZE 1021
#define IDC_BORDER_COLOR 1022
#define IDC_KEEP_ASPECT 1023
#define IDC_READOUT_SIZE 1024
#define IDC_FRAME_OFFSET 1025
#define IDC_REVERSE 1026
#define IDC_OVERLAY_LENGTH 1027
#define IDC_OVERLAY_SIZE 1028
#define IDC_BILINEAR 1029
#define IDC_SHADOW 1030
#define IDC_SHADOW_SIZE 1031
#define IDC_SHADOW_PERCENT 1032
#define IDC_SHADOW_STYLE 1033
#define IDC_SHADOW_SHIFT 1034
#define IDC_SHADOW_COLOR 1035

/* Labels and frames that the dialog procedure never addresses. */
#define IDC_UNADDRESSED (-1)

#endif
