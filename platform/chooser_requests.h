// The request records of the platform's common file and colour choosers, in
// their classic 32-bit layouts (76 and 36 bytes).
#pragma once

#include <cstddef>

#include "host/win_types.h"

#ifdef _WIN32
#include <commdlg.h>

using OpenFileRequest = OPENFILENAMEA;
using ChooseColorRequest = CHOOSECOLORA;
// The request size that excludes the fields later platform versions added.
constexpr DWORD kOpenFileRequestClassicSize = 76;
#else

struct OpenFileRequest {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    const char* lpstrFilter;
    char* lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    char* lpstrFile;
    DWORD nMaxFile;
    char* lpstrFileTitle;
    DWORD nMaxFileTitle;
    const char* lpstrInitialDir;
    const char* lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    const char* lpstrDefExt;
    LPARAM lCustData;
    void* lpfnHook;
    const char* lpTemplateName;
};

struct ChooseColorRequest {
    DWORD lStructSize;
    HWND hwndOwner;
    HWND hInstance;
    COLORREF rgbResult;
    COLORREF* lpCustColors;
    DWORD Flags;
    LPARAM lCustData;
    void* lpfnHook;
    const char* lpTemplateName;
};

constexpr DWORD kOpenFileRequestClassicSize = 76;
#endif

#ifdef _WIN32
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(void*) == kOpenFileRequestClassicSize,
              "the classic file-open request ends after lpTemplateName");
static_assert(sizeof(ChooseColorRequest) == 36, "CHOOSECOLORA is 36 bytes");
#endif
