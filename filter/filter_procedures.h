// The small procedures registered with the host: output format, start, end,
// description, script line and teardown, and the `Config` script function.
#pragma once

#include "host/filter_interface.h"

long HOST_CDECL ParamProc(FilterActivation* activation, const FilterFunctions* functions);
int HOST_CDECL StartProc(FilterActivation* activation, const FilterFunctions* functions);
int HOST_CDECL EndProc(FilterActivation* activation, const FilterFunctions* functions);
void HOST_CDECL StringProc(const FilterActivation* activation, const FilterFunctions* functions,
                           char* buffer);
bool HOST_CDECL FssProc(FilterActivation* activation, const FilterFunctions* functions,
                        char* buffer, int length);
void HOST_CDECL DeinitProc(FilterActivation* activation, const FilterFunctions* functions);

void ScriptConfig(IScriptInterpreter* interpreter, void* data, CScriptValue* argv, int argc);

// The script object offered to the host: one function, "Config" ("0iiii").
extern CScriptObject g_scriptObject;

// The longest description line, without its terminator.
constexpr int kDescriptionMaxLength = 52;
// The longest script line, without its terminator.
constexpr int kScriptLineMaxLength = 55;
// Config takes the four mask corners.
constexpr int kConfigArgumentCount = 4;
