// The host's filter plug-in interface: module record, host services, filter
// definition, activation record, frame state and preview interface.
//
// Every record here crosses the module boundary and matches the 32-bit host
// byte for byte in the Windows build (the static_asserts below). Natively our
// own host side is on both sides of the boundary, so there only the field
// order matters.
//
// Calling conventions: the filter procedures and the host services are cdecl;
// methods of the preview object are thiscall (see vbitmap.h).
// Ownership: the host owns every record it passes in; the instance record
// (`filter_data`) is allocated zero-filled by the host and copied as a block.
// Threading: all calls come from the host's threads; nothing here locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/script_interface.h"
#include "host/vbitmap.h"
#include "host/win_types.h"

struct FilterModule;
struct FilterDefinition;
struct FilterActivation;
struct FilterFunctions;
struct IFilterPreview;

struct FilterModule {
    FilterModule* next;
    FilterModule* prev;
    HINSTANCE hInstModule;  // the module's own handle: source of dialog resource 101
    void* initProc;
    void* deinitProc;
};

struct FilterFunctions {
    FilterDefinition*(HOST_CDECL* addFilter)(FilterModule* module, FilterDefinition* definition,
                                             int length);
    void(HOST_CDECL* removeFilter)(FilterDefinition* definition);
    bool(HOST_CDECL* isFPUEnabled)();
    bool(HOST_CDECL* isMMXEnabled)();
    void(HOST_CDECL* InitVTables)(FilterVTbls* tables);
    void(HOST_CDECL* ExceptOutOfMemory)();
    void(HOST_CDECL* Except)(const char* format, ...);
    long(HOST_CDECL* getCPUFlags)();
    long(HOST_CDECL* getHostVersionInfo)(char* buffer, int length);
};

using FilterInitProc = int(HOST_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterDeinitProc = void(HOST_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterRunProc = int(HOST_CDECL*)(const FilterActivation*, const FilterFunctions*);
using FilterParamProc = long(HOST_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterConfigProc = int(HOST_CDECL*)(FilterActivation*, const FilterFunctions*,
                                          HWND parent);
using FilterStringProc = void(HOST_CDECL*)(const FilterActivation*, const FilterFunctions*,
                                           char* buffer);
using FilterStartProc = int(HOST_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterEndProc = int(HOST_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterScriptStrProc = bool(HOST_CDECL*)(FilterActivation*, const FilterFunctions*,
                                              char* buffer, int length);

struct FilterDefinition {
    FilterDefinition* next;
    FilterDefinition* prev;
    FilterModule* module;
    const char* name;
    const char* desc;
    const char* maker;
    void* private_data;
    int inst_data_size;
    FilterInitProc initProc;
    FilterDeinitProc deinitProc;
    FilterRunProc runProc;
    FilterParamProc paramProc;
    FilterConfigProc configProc;
    FilterStringProc stringProc;
    FilterStartProc startProc;
    FilterEndProc endProc;
    CScriptObject* script_obj;
    FilterScriptStrProc fssProc;
    void* stringProc2;
    void* serializeProc;
    void* deserializeProc;
    void* copyProc;
};

struct FilterStateInfo {
    long lCurrentFrame;
    long lMicrosecsPerFrame;
    long lCurrentSourceFrame;
    long lMicrosecsPerSrcFrame;
    long lSourceFrameMS;
    long lDestFrameMS;
};

struct FilterActivation {
    FilterDefinition* filter;
    void* filter_data;  // the instance record
    VFBitmap* dst;      // a reference in the host's declaration
    VFBitmap* src;
    void* reserved;
    VFBitmap* last;
    unsigned long x1, y1, x2, y2;
    FilterStateInfo* pfsi;
    IFilterPreview* ifp;
};

// The preview's open/close callback: true once the window exists, false when
// it closes.
using FilterPreviewButtonCallback = void(HOST_CDECL*)(bool opened, void* data);
using FilterPreviewSampleCallback = void(HOST_CDECL*)(VFBitmap* frame, long frameNumber,
                                                      long frameCount, void* data);

struct IFilterPreviewMethods {
    void(HOST_THISCALL* SetButtonCallback)(IFilterPreview* self,
                                           FilterPreviewButtonCallback callback, void* data);
    void(HOST_THISCALL* SetSampleCallback)(IFilterPreview* self,
                                           FilterPreviewSampleCallback callback, void* data);
    bool(HOST_THISCALL* isPreviewEnabled)(IFilterPreview* self);
    void(HOST_THISCALL* Toggle)(IFilterPreview* self, HWND owner);
    void(HOST_THISCALL* Display)(IFilterPreview* self, HWND owner, bool show);
    void(HOST_THISCALL* RedoFrame)(IFilterPreview* self);
    void(HOST_THISCALL* RedoSystem)(IFilterPreview* self);
    void(HOST_THISCALL* UndoSystem)(IFilterPreview* self);
    void(HOST_THISCALL* InitButton)(IFilterPreview* self, HWND button);
    void(HOST_THISCALL* Close)(IFilterPreview* self);
    bool(HOST_THISCALL* SampleCurrentFrame)(IFilterPreview* self);
    long(HOST_THISCALL* SampleFrames)(IFilterPreview* self);
};

struct IFilterPreview {
    const IFilterPreviewMethods* methods;
};

// The host's filter-definition version that this module implements, and the
// oldest host version it still works with.
constexpr int kFilterDefinitionVersion = 8;
constexpr int kFilterCompatibleVersion = 4;

#ifdef _WIN32
static_assert(sizeof(FilterModule) == 20, "FilterModule is 20 bytes");
static_assert(sizeof(FilterFunctions) == 36, "nine host services");
static_assert(sizeof(FilterDefinition) == 88, "FilterDefinition is 88 bytes");
static_assert(offsetof(FilterDefinition, inst_data_size) == 28, "inst_data_size");
static_assert(offsetof(FilterDefinition, runProc) == 40, "runProc");
static_assert(offsetof(FilterDefinition, script_obj) == 64, "script_obj");
static_assert(offsetof(FilterDefinition, fssProc) == 68, "fssProc");
static_assert(sizeof(FilterStateInfo) == 24, "six longs");
static_assert(sizeof(FilterActivation) == 48, "FilterActivation as the module reads it");
static_assert(offsetof(FilterActivation, filter_data) == 4, "filter_data");
static_assert(offsetof(FilterActivation, dst) == 8, "dst");
static_assert(offsetof(FilterActivation, src) == 12, "src");
static_assert(offsetof(FilterActivation, last) == 20, "last");
static_assert(offsetof(FilterActivation, x1) == 24, "x1");
static_assert(offsetof(FilterActivation, y2) == 36, "y2");
static_assert(offsetof(FilterActivation, pfsi) == 40, "pfsi");
static_assert(offsetof(FilterActivation, ifp) == 44, "ifp");
static_assert(sizeof(IFilterPreviewMethods) == 12 * 4, "twelve preview methods");
static_assert(offsetof(IFilterPreviewMethods, RedoFrame) == 20, "RedoFrame is method 6");
static_assert(offsetof(IFilterPreviewMethods, InitButton) == 32, "InitButton is method 9");
#endif
