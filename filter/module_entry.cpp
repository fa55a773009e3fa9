#include "filter/module_entry.h"

#include "filter/filter_data.h"
#include "filter/filter_procedures.h"
#include "render/bitmap_objects.h"
#include "render/frame_compositor.h"
#include "source/handle_registry.h"
#include "ui/config_dialog.h"

FilterDefinition g_filterDefinition = {
    nullptr,            // next
    nullptr,            // prev
    nullptr,            // module
    kFilterName,        //
    kFilterDescription, //
    kFilterMaker,       //
    nullptr,            // private data
    static_cast<int>(sizeof(FilterData)),
    nullptr,  // initProc: the host's zero-filled record is the starting state
    &DeinitProc,
    &RunProc,
    &ParamProc,
    &ConfigProc,
    &StringProc,
    &StartProc,
    &EndProc,
    &g_scriptObject,
    &FssProc,
    nullptr,  // second description
    nullptr,  // serialise
    nullptr,  // deserialise
    nullptr,  // copy: the host copies records as blocks
};

FilterDefinition* g_registeredDefinition = nullptr;

QUILLMERE_EXPORT int HOST_CDECL VirtualdubFilterModuleInit2(FilterModule* module,
                                                            const FilterFunctions* functions,
                                                            int& version, int& compatible) {
    g_registeredDefinition =
        functions->addFilter(module, &g_filterDefinition, sizeof(FilterDefinition));
    if (g_registeredDefinition == nullptr) {
        return 1;
    }
    functions->InitVTables(&g_filterVTables);
    version = kFilterDefinitionVersion;
    compatible = kFilterCompatibleVersion;
    return 0;
}

QUILLMERE_EXPORT void HOST_CDECL VirtualdubFilterModuleDeinit(FilterModule*,
                                                              const FilterFunctions* functions) {
    // Block copies of instance records may share handles until now; with
    // the module going away none of them can be used any more.
    ReleaseTrackedHandles();
    // A refused registration left nothing to remove, and a host must never
    // be handed a definition it has already dropped.
    if (g_registeredDefinition == nullptr) {
        return;
    }
    functions->removeFilter(g_registeredDefinition);
    g_registeredDefinition = nullptr;
}
