// The host's script records: how a filter offers functions to the host's
// processing script. A function whose argument list starts with "0" returns
// nothing and is called cdecl with the activation record as `data`.
#pragma once

#include <cstddef>

struct IScriptInterpreter;
struct CScriptObject;

struct CScriptValue {
    enum Type { T_VOID = 0, T_INT = 1 };
    int type;
    void* thisPtr;
    union {
        int i;
        long long wide;  // widest member: keeps the record at the host's 16 bytes
        void* pointer;
    } value;
};

using ScriptFunctionPtr = void (*)(IScriptInterpreter* interpreter, void* data,
                                   CScriptValue* argv, int argc);
using ScriptObjectLookupFuncPtr = CScriptValue (*)(IScriptInterpreter*, CScriptObject*, void*,
                                                   char* name);

struct ScriptFunctionDef {
    ScriptFunctionPtr func_ptr;
    const char* name;
    const char* arg_list;
};

struct CScriptObject {
    ScriptObjectLookupFuncPtr lookup;
    const ScriptFunctionDef* func_list;
    CScriptObject* obj_list;
};

#ifdef _WIN32
static_assert(sizeof(CScriptValue) == 16, "CScriptValue is 16 bytes");
static_assert(offsetof(CScriptValue, thisPtr) == 4, "thisPtr");
static_assert(offsetof(CScriptValue, value) == 8, "the integer at byte 8");
static_assert(sizeof(ScriptFunctionDef) == 12, "ScriptFunctionDef");
static_assert(sizeof(CScriptObject) == 12, "CScriptObject");
#endif
