#include "hostkit/host_services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "hostkit/bitmap_operations.h"

namespace {

const FilterFunctions& host = HostFilterFunctions();

FilterDefinition SampleDefinition(const char* name) {
    FilterDefinition definition{};
    definition.name = name;
    definition.desc = "a filter";
    definition.inst_data_size = 12;
    return definition;
}

TEST(AddFilter, KeepsItsOwnCopyWithTheModuleSet) {
    FilterModule module{};
    FilterDefinition definition = SampleDefinition("copied");
    FilterDefinition* registered = host.addFilter(&module, &definition, sizeof definition);
    ASSERT_NE(registered, nullptr);
    EXPECT_NE(registered, &definition);
    EXPECT_EQ(registered->module, &module);
    EXPECT_EQ(definition.module, nullptr) << "the module's own record stays as it was";
    EXPECT_STREQ(registered->name, "copied");
    EXPECT_EQ(registered->inst_data_size, 12);
    // Changing the module's record afterwards does not reach the copy.
    definition.inst_data_size = 99;
    EXPECT_EQ(registered->inst_data_size, 12);
    EXPECT_EQ(FindRegisteredFilter("copied"), registered);
    host.removeFilter(registered);
    EXPECT_EQ(FindRegisteredFilter("copied"), nullptr);
}

bool HOST_CDECL SomeScriptString(FilterActivation*, const FilterFunctions*, char*, int) {
    return true;
}

TEST(AddFilter, CopiesExactlyTheGivenLength) {
    FilterModule module{};
    struct Longer {
        FilterDefinition definition;
        int extra;
    } longer{SampleDefinition("longer"), 0x5EED};
    auto* registered = reinterpret_cast<Longer*>(
        host.addFilter(&module, &longer.definition, static_cast<int>(sizeof longer)));
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(registered->extra, 0x5EED);

    // An older, shorter definition: the fields it lacks read as null.
    FilterDefinition older = SampleDefinition("older");
    older.fssProc = &SomeScriptString;
    const int shortLength = static_cast<int>(offsetof(FilterDefinition, fssProc));
    FilterDefinition* copy = host.addFilter(&module, &older, shortLength);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->fssProc, nullptr);
    EXPECT_EQ(copy->inst_data_size, 12);

    host.removeFilter(&registered->definition);
    host.removeFilter(copy);
}

TEST(AddFilter, RefusesWhenToldToAndForNonsense) {
    FilterModule module{};
    FilterDefinition definition = SampleDefinition("refused");
    const std::size_t before = RegisteredFilters().size();
    RefuseFilterRegistration(true);
    EXPECT_EQ(host.addFilter(&module, &definition, sizeof definition), nullptr);
    RefuseFilterRegistration(false);
    EXPECT_EQ(host.addFilter(&module, &definition, 0), nullptr);
    EXPECT_EQ(host.addFilter(&module, &definition, -88), nullptr);
    EXPECT_EQ(host.addFilter(&module, nullptr, 88), nullptr);
    EXPECT_EQ(RegisteredFilters().size(), before);
}

TEST(RemoveFilter, UnregistersOnlyThatDefinitionAndIgnoresStrangers) {
    FilterModule module{};
    FilterDefinition first = SampleDefinition("first"), second = SampleDefinition("second");
    FilterDefinition* a = host.addFilter(&module, &first, sizeof first);
    FilterDefinition* b = host.addFilter(&module, &second, sizeof second);
    host.removeFilter(&first);  // the module's record, not the registered one
    host.removeFilter(nullptr);
    EXPECT_EQ(RegisteredFilters(), (std::vector<FilterDefinition*>{a, b}));
    host.removeFilter(a);
    EXPECT_EQ(RegisteredFilters(), (std::vector<FilterDefinition*>{b}));
    host.removeFilter(b);
    EXPECT_TRUE(RegisteredFilters().empty());
}

TEST(InitVTables, HandsOutTheHostBitmapOperations) {
    FilterVTbls tables{nullptr};
    host.InitVTables(&tables);
    EXPECT_EQ(tables.pvtblVBitmap, &HostBitmapOperations());
}

TEST(Except, ThrowsTheFormattedMessage) {
    try {
        host.Except("cannot open %s (%d)", "overlay.avi", 42);
        FAIL() << "Except returned";
    } catch (const HostException& error) {
        EXPECT_STREQ(error.what(), "cannot open overlay.avi (42)");
    }
    EXPECT_THROW(host.ExceptOutOfMemory(), std::bad_alloc);
}

TEST(HostVersionInfo, NeverWritesPastTheGivenLength) {
    const std::string full = kHostVersionText;
    for (int length : {0, 1, 5, static_cast<int>(full.size()), static_cast<int>(full.size()) + 1,
                       64}) {
        std::vector<char> buffer(80, '#');
        host.getHostVersionInfo(buffer.data(), length);
        const std::size_t written =
            length == 0 ? 0 : std::min<std::size_t>(full.size(), static_cast<std::size_t>(length - 1));
        if (length > 0) {
            EXPECT_EQ(std::string(buffer.data()), full.substr(0, written)) << length;
            EXPECT_EQ(buffer[written], '\0');
        }
        for (std::size_t i = length == 0 ? 0 : written + 1; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], '#') << "length " << length << " byte " << i;
        }
    }
}

TEST(CpuFlags, AgreeWithTheFeatureQueries) {
    const long flags = host.getCPUFlags();
    EXPECT_TRUE(host.isFPUEnabled());
    EXPECT_NE(flags & kCpuFlagFpu, 0);
    EXPECT_EQ((flags & kCpuFlagMmx) != 0, host.isMMXEnabled());
#if defined(__x86_64__)
    EXPECT_NE(flags & kCpuFlagSse2, 0) << "every x86-64 processor has SSE2";
#endif
}

}  // namespace
