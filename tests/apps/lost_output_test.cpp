// Output that cannot be written is a failure said in one line, never a
// success with the text lost: standard output and the progress file on a
// full device.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "apps/quillmere/runner_error.h"
#include "tests/apps/runner_harness.h"

namespace {

struct LostOutputCase {
    const char* name;
    // The arguments after the program; MAIN and OUT are filled in.
    std::string arguments;
    const char* reason;  // what the one line says
};
void PrintTo(const LostOutputCase& test, std::ostream* out) { *out << test.name; }

const LostOutputCase kCases[] = {
    {"PlaceToAFullDevice", "place MAIN > /dev/full", "cannot write standard output"},
    {"ProgressToAFullDevice", "render MAIN -o OUT --mask 0,0,9,9 --progress /dev/full",
     "cannot write progress to '/dev/full'"},
};

class LostOutput : public testing::TestWithParam<LostOutputCase> {};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

TEST_P(LostOutput, FailsInOneLine) {
    if (std::ifstream("/dev/full").fail()) {
        GTEST_SKIP() << "this system has no /dev/full";
    }
    const ScratchFolder folder;
    std::string arguments = Replaced(GetParam().arguments, "MAIN", "'" + Clip("main.mkv") + "'");
    arguments = Replaced(arguments, "OUT", "'" + folder / "out.mkv" + "'");
    const std::string errors = folder / "errors.txt";
    const int status = std::system((std::string("'") + QUILLMERE_PROGRAM + "' " + arguments +
                                    " 2> '" + errors + "' < /dev/null")
                                       .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kExitFailure);
    std::ifstream file(errors);
    std::stringstream text;
    text << file.rdbuf();
    const std::string said = text.str();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find(GetParam().reason), std::string::npos) << said;
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"errors.txt"});
}

INSTANTIATE_TEST_SUITE_P(Outputs, LostOutput, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<LostOutputCase>& info) {
                             return info.param.name;
                         });

}  // namespace
