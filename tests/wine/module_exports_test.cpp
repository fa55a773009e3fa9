// What the built modules show the outside: the 32-bit .vdf exports the two
// entry points by their plain names and imports only Windows' own DLLs; the
// native library makes exactly the same two symbols visible.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::set<std::string> kEntryPoints = {"VirtualdubFilterModuleInit2",
                                            "VirtualdubFilterModuleDeinit"};
const std::set<std::string> kSystemLibraries = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                                "comdlg32.dll", "avifil32.dll", "msvcrt.dll"};

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// Runs a command and returns what it printed; fails the test on a non-zero exit.
std::string Output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"),
                                               &pclose);
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return {};
    }
    std::string text;
    std::array<char, 4096> chunk;
    while (std::size_t count = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) {
        text.append(chunk.data(), count);
    }
    const int status = pclose(pipe.release());
    EXPECT_EQ(status, 0) << command << " failed:\n" << text;
    return text;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct PeSummary {
    std::set<std::string> exports;
    std::set<std::string> imports;  // lower case
};

PeSummary ReadPe(const std::string& path) {
    const std::string dump = Output(std::string(QUILLMERE_MINGW_OBJDUMP) + " -p '" + path + "'");
    PeSummary summary;
    std::istringstream lines(dump);
    std::string line;
    bool inNameTable = false;
    const std::regex dllName(R"(^\s*DLL Name:\s*(\S+)\s*$)");
    const std::regex exportName(R"(^\s*\[\s*\d+\]\s+(\S+)\s*$)");
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, dllName)) {
            summary.imports.insert(Lower(match[1]));
        } else if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inNameTable = true;
        } else if (inNameTable) {
            if (std::regex_match(line, match, exportName)) {
                summary.exports.insert(match[1]);
            } else {
                inNameTable = false;
            }
        }
    }
    return summary;
}

TEST(ModuleExports, VdfExportsTheEntryPointsUndecorated) {
    const std::string path = QUILLMERE_WIN32_MODULE;
    if (!Exists(path)) {
        GTEST_SKIP() << path << " has not been built (cmake --preset win32)";
    }
    const PeSummary summary = ReadPe(path);
    EXPECT_EQ(summary.exports, kEntryPoints);
    for (const std::string& name : summary.exports) {
        EXPECT_EQ(name.find('@'), std::string::npos) << name;
        EXPECT_NE(name.front(), '_') << name;
    }
}

TEST(ModuleExports, VdfImportsOnlyWindowsSystemLibraries) {
    const std::string path = QUILLMERE_WIN32_MODULE;
    if (!Exists(path)) {
        GTEST_SKIP() << path << " has not been built (cmake --preset win32)";
    }
    const PeSummary summary = ReadPe(path);
    for (const std::string& library : summary.imports) {
        EXPECT_TRUE(kSystemLibraries.count(library)) << "unexpected import " << library;
    }
    // The real dialog, colour samples, choosers and overlay reader are in.
    for (const char* needed :
         {"kernel32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll", "avifil32.dll"}) {
        EXPECT_TRUE(summary.imports.count(needed)) << "missing import " << needed;
    }
}

TEST(ModuleExports, WindowsTestHostCarriesNoMingwRuntime) {
    const std::string path = QUILLMERE_WIN32_TEST_HOST;
    if (!Exists(path)) {
        GTEST_SKIP() << path << " has not been built (cmake --preset win32)";
    }
    for (const std::string& library : ReadPe(path).imports) {
        EXPECT_TRUE(kSystemLibraries.count(library)) << "unexpected import " << library;
    }
}

TEST(ModuleExports, NativeLibraryShowsOnlyTheEntryPoints) {
    const std::string dump =
        Output(std::string("nm -D --defined-only '") + QUILLMERE_NATIVE_MODULE + "'");
    std::set<std::string> defined;
    std::istringstream lines(dump);
    std::string address, kind, name;
    while (lines >> address >> kind >> name) {
        defined.insert(name);
    }
    EXPECT_EQ(defined, kEntryPoints);
}

}  // namespace
