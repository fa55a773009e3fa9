// The real 32-bit module under Wine, loaded by our Windows test host:
// registration, the configuration dialog from resource 101, the mask editor
// on a real preview window, and processing passes with real overlay AVIs
// decoded by the platform's AVI file library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bmp_image.h"
#include "wine_session.h"

namespace {

#define REQUIRE_WINE(session)                                                        \
    WineSession* session = WineSession::Get();                                       \
    if (session == nullptr) {                                                        \
        GTEST_SKIP() << "needs the win32 build (cmake --preset win32), wine and Xvfb"; \
    }

TEST(ModuleUnderWine, RegistersItsFilterWithTheHost) {
    REQUIRE_WINE(wine);
    const HostResult result = wine->RunHost({"register"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("init-result"), 0);
    EXPECT_EQ(result.Value("version"), 8);
    EXPECT_EQ(result.Value("compatible"), 4);
    EXPECT_EQ(result.values.at("name"), "Quillmere - Beta");
    EXPECT_EQ(result.values.at("description"), "Overlay videos");
    EXPECT_EQ(result.values.at("maker"), "Quillmere project");
    EXPECT_EQ(result.Value("inst-data-size"), 440);
    EXPECT_EQ(result.Value("module-matches"), 1);
    EXPECT_EQ(result.Value("config-proc"), 1);
    EXPECT_EQ(result.Value("run-proc"), 1);
    EXPECT_EQ(result.Value("script"), 1);
    EXPECT_EQ(result.Value("registered-after-deinit"), 0);
}

TEST(ModuleUnderWine, RefusedRegistrationLeavesTheHostsValues) {
    REQUIRE_WINE(wine);
    const HostResult result = wine->RunHost({"register", "--refuse"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.Value("init-result"), 1);
    EXPECT_EQ(result.Value("version"), -7);
    EXPECT_EQ(result.Value("compatible"), -7);
    EXPECT_EQ(result.Value("add-requests"), 1);
    EXPECT_EQ(result.Value("table-requests"), 0);
    // Unloading after a refusal hands the host nothing to remove.
    EXPECT_EQ(result.Value("removals"), 0);
}

}  // namespace
