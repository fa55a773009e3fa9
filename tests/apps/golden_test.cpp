// Golden runs in the manner of FATE: for each case a settings line and one
// checksum of the colour bytes per output frame, kept in golden/NAME.golden.
// The clips are the harness's synthetic ones, stored losslessly, so the
// checksums depend only on the filter and the runner.
//
// To regenerate after an intended change of the output:
//   QUILLMERE_UPDATE_GOLDEN=1 build/native/tests/apps/apps_tests --gtest_filter='Golden*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

struct GoldenCase {
    const char* name;
    std::vector<std::string> options;
};

// Every deterministic shadow style (the random ones, 1 and 3, are seeded
// from the clock), the border, and copy, nearest and bilinear, from 32-bit
// and 24-bit overlay frames.
const GoldenCase kGoldenCases[] = {
    {"border", {"--repeat", "--overlay", "OVERLAY", "--mask", "20,10,w64,h48", "--border", "3",
                "--border-color", "3366cc"}},
    {"copy-smaller-than-mask", {"--repeat", "--overlay", "OVERLAY", "--mask", "10,10,w100,h80", "--border",
                                "2"}},
    {"nearest", {"--repeat", "--overlay", "OVERLAY", "--mask", "12,6,w100,h75", "--fit"}},
    {"bilinear", {"--repeat", "--overlay", "OVERLAY", "--mask", "12,6,w100,h75", "--fit", "--bilinear"}},
    {"shadow-0-flat", {"--repeat", "--overlay", "OVERLAY", "--mask", "30,20,w80,h60", "--fit", "--shadow",
                       "0"}},
    {"shadow-2-gradient-coloured", {"--repeat", "--overlay", "OVERLAY", "--mask", "30,20,w80,h60", "--fit",
                                    "--shadow", "2", "--shadow-color", "204080",
                                    "--shadow-percent", "30"}},
    {"shadow-4-gradient-fixed-border", {"--repeat", "--overlay", "OVERLAY", "--mask", "30,20,w80,h60",
                                        "--fit", "--shadow", "4", "--shadow-shift", "5",
                                        "--border", "2"}},
    {"shadow-5-flat-negative-shift", {"--repeat", "--overlay", "OVERLAY", "--mask", "40,30,w70,h50",
                                      "--fit", "--bilinear", "--shadow", "5", "--shadow-shift",
                                      "-6", "--shadow-size", "12"}},
    {"range-offset-reverse-repeat", {"--overlay", "OVERLAY", "--mask", "30,20,w80,h60", "--fit",
                                     "--range", "4-25", "--offset", "2", "--reverse",
                                     "--repeat", "--maintain-black"}},
    {"depth24-copy-border", {"--repeat", "--overlay", "OVERLAY24", "--mask", "20,10,w64,h48", "--border",
                             "2"}},
    {"depth24-nearest-shadow-2", {"--repeat", "--overlay", "OVERLAY24", "--mask", "30,20,w80,h60", "--fit",
                                  "--shadow", "2"}},
    {"depth24-bilinear-shadow-4", {"--repeat", "--overlay", "OVERLAY24", "--mask", "30,20,w80,h60", "--fit",
                                   "--bilinear", "--shadow", "4", "--border", "1"}},
    {"placeholder-without-overlay", {"--mask", "25,25,w60,h40", "--border", "1", "--shadow",
                                     "2"}},
};

std::string SettingsLine(const GoldenCase& test) {
    std::string line = "quillmere render main.mkv -o out.mkv";
    for (const std::string& option : test.options) {
        line += " " + (option == "OVERLAY"     ? std::string("overlay.avi")
                       : option == "OVERLAY24" ? std::string("overlay24.avi")
                                               : option);
    }
    return line;
}

std::string GoldenPath(const GoldenCase& test) {
    return std::string(QUILLMERE_GOLDEN_DIR) + "/" + test.name + ".golden";
}

class Golden : public testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, OutputFramesMatchTheReference) {
    const GoldenCase& test = GetParam();
    ScratchFolder out;
    std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", out / "out.mkv",
                                          "--quiet"};
    for (const std::string& option : WithClips(test.options)) {
        arguments.push_back(option);
    }
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    std::ostringstream actual;
    actual << "# " << SettingsLine(test) << "\n";
    const std::vector<Picture> frames = DecodeAll(out / "out.mkv");
    for (std::size_t frame = 0; frame < frames.size(); ++frame) {
        actual << frame << " " << ColorChecksum(frames[frame]) << "\n";
    }

    if (const char* update = std::getenv("QUILLMERE_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream reference(GoldenPath(test));
        reference << actual.str();
        ASSERT_TRUE(reference.flush()) << "cannot write " << GoldenPath(test);
        GTEST_SKIP() << "wrote " << GoldenPath(test);
    }
    std::ifstream referenceFile(GoldenPath(test));
    ASSERT_TRUE(referenceFile) << "no reference " << GoldenPath(test);
    std::ostringstream reference;
    reference << referenceFile.rdbuf();
    EXPECT_EQ(actual.str(), reference.str());
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(kGoldenCases),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

}  // namespace
