#include "filter/module_entry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "filter/filter_data.h"
#include "filter/filter_procedures.h"
#include "hostkit/bitmap_operations.h"
#include "hostkit/host_services.h"
#include "render/bitmap_objects.h"
#include "render/frame_compositor.h"
#include "ui/config_dialog.h"

namespace {

// The host's services, with the calls the entry points make counted.
int g_initVTablesCalls = 0;
int g_removeFilterCalls = 0;
int g_lastAddLength = 0;

FilterDefinition* HOST_CDECL CountingAddFilter(FilterModule* module, FilterDefinition* definition,
                                               int length) {
    g_lastAddLength = length;
    return HostFilterFunctions().addFilter(module, definition, length);
}
void HOST_CDECL CountingInitVTables(FilterVTbls* tables) {
    ++g_initVTablesCalls;
    HostFilterFunctions().InitVTables(tables);
}
void HOST_CDECL CountingRemoveFilter(FilterDefinition* definition) {
    ++g_removeFilterCalls;
    HostFilterFunctions().removeFilter(definition);
}

FilterFunctions CountingFunctions() {
    FilterFunctions functions = HostFilterFunctions();
    functions.addFilter = &CountingAddFilter;
    functions.InitVTables = &CountingInitVTables;
    functions.removeFilter = &CountingRemoveFilter;
    return functions;
}

class ModuleEntryTest : public ::testing::Test {
protected:
    ModuleEntryTest() {
        g_initVTablesCalls = g_removeFilterCalls = g_lastAddLength = 0;
        g_filterVTables.pvtblVBitmap = nullptr;
    }
    ~ModuleEntryTest() override { RefuseFilterRegistration(false); }

    FilterModule module_{};
    FilterFunctions functions_ = CountingFunctions();
};

TEST_F(ModuleEntryTest, ARefusedRegistrationReturnsOneAndTouchesNothingElse) {
    RefuseFilterRegistration(true);
    int version = -7, compatible = -9;
    EXPECT_EQ(VirtualdubFilterModuleInit2(&module_, &functions_, version, compatible), 1);
    EXPECT_EQ(g_initVTablesCalls, 0);
    EXPECT_EQ(g_filterVTables.pvtblVBitmap, nullptr);
    EXPECT_EQ(version, -7);
    EXPECT_EQ(compatible, -9);
    EXPECT_EQ(g_registeredDefinition, nullptr);
    EXPECT_EQ(FindRegisteredFilter(kFilterName), nullptr);
    // Unloading after a refusal hands the host nothing to remove.
    VirtualdubFilterModuleDeinit(&module_, &functions_);
    EXPECT_EQ(g_removeFilterCalls, 0);
}

TEST_F(ModuleEntryTest, RegistersTheDefinitionAndReportsTheVersions) {
    int version = 0, compatible = 0;
    ASSERT_EQ(VirtualdubFilterModuleInit2(&module_, &functions_, version, compatible), 0);
    EXPECT_EQ(version, 8);
    EXPECT_EQ(compatible, 4);
    EXPECT_EQ(g_initVTablesCalls, 1);
    EXPECT_EQ(g_filterVTables.pvtblVBitmap, &HostBitmapOperations());
    EXPECT_EQ(g_lastAddLength, static_cast<int>(sizeof(FilterDefinition)));

    FilterDefinition* registered = FindRegisteredFilter(kFilterName);
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(registered, g_registeredDefinition);
    EXPECT_EQ(registered->module, &module_);
    EXPECT_EQ(registered->runProc, &RunProc);

    VirtualdubFilterModuleDeinit(&module_, &functions_);
    EXPECT_EQ(g_removeFilterCalls, 1);
    EXPECT_EQ(FindRegisteredFilter(kFilterName), nullptr);
    VirtualdubFilterModuleDeinit(&module_, &functions_);
    EXPECT_EQ(g_removeFilterCalls, 1) << "a definition is removed once";
}

TEST(FilterDefinition, CarriesTheFiltersNameProceduresAndRecordSize) {
    const FilterDefinition& d = g_filterDefinition;
#ifdef _WIN32
    static_assert(sizeof(FilterDefinition) == 88, "22 fields of 4 bytes");
#endif
    EXPECT_EQ(sizeof(FilterDefinition), 22 * sizeof(void*));
    EXPECT_EQ(d.next, nullptr);
    EXPECT_EQ(d.prev, nullptr);
    EXPECT_EQ(d.module, nullptr);
    EXPECT_STREQ(d.name, "Quillmere - Beta");
    EXPECT_STREQ(d.desc, "Overlay videos");
    ASSERT_NE(d.maker, nullptr);
    EXPECT_GT(std::char_traits<char>::length(d.maker), 0u);
    EXPECT_EQ(d.private_data, nullptr);
    EXPECT_EQ(d.inst_data_size, static_cast<int>(sizeof(FilterData)));
    EXPECT_EQ(d.initProc, nullptr);
    EXPECT_EQ(d.deinitProc, &DeinitProc);
    EXPECT_EQ(d.runProc, &RunProc);
    EXPECT_EQ(d.paramProc, &ParamProc);
    EXPECT_EQ(d.configProc, &ConfigProc);
    EXPECT_EQ(d.stringProc, &StringProc);
    EXPECT_EQ(d.startProc, &StartProc);
    EXPECT_EQ(d.endProc, &EndProc);
    EXPECT_EQ(d.script_obj, &g_scriptObject);
    EXPECT_EQ(d.fssProc, &FssProc);
    EXPECT_EQ(d.stringProc2, nullptr);
    EXPECT_EQ(d.serializeProc, nullptr);
    EXPECT_EQ(d.deserializeProc, nullptr);
    EXPECT_EQ(d.copyProc, nullptr);
}

}  // namespace
