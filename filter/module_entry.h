// The module's face to the host: the two exported entry points and the
// filter definition they register.
#pragma once

#include "host/filter_interface.h"

#ifdef _WIN32
#define QUILLMERE_EXPORT extern "C" __declspec(dllexport)
#else
#define QUILLMERE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

QUILLMERE_EXPORT int HOST_CDECL VirtualdubFilterModuleInit2(FilterModule* module,
                                                            const FilterFunctions* functions,
                                                            int& version, int& compatible);
QUILLMERE_EXPORT void HOST_CDECL VirtualdubFilterModuleDeinit(FilterModule* module,
                                                              const FilterFunctions* functions);

// The definition record registered at load, and what addFilter returned
// (null before registration and when it was refused).
extern FilterDefinition g_filterDefinition;
extern FilterDefinition* g_registeredDefinition;

constexpr const char* kFilterName = "Quillmere - Beta";
constexpr const char* kFilterDescription = "Overlay videos";
constexpr const char* kFilterMaker = "Quillmere project";
