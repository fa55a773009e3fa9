// A standard-range overlay and border in an HDR main land where HDR
// production puts graphics: white at the reference white, greys as an SDR
// display shows them, black at black. The expected codes are worked out
// here from the PQ and HLG formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr double kReferenceWhite = 203.0;  // cd/m2
constexpr double kHlgDisplayPeak = 1000.0;
constexpr double kHlgSystemGamma = 1.2;
constexpr double kSdrDisplayGamma = 2.4;

// The PQ signal of an absolute luminance.
double PqSignal(double candelas) {
    const double m1 = 2610.0 / 16384;
    const double m2 = 2523.0 / 4096 * 128;
    const double c1 = 3424.0 / 4096;
    const double c2 = 2413.0 / 4096 * 32;
    const double c3 = 2392.0 / 4096 * 32;
    const double y = std::pow(candelas / 10000.0, m1);
    return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}

// The HLG signal of a grey shown at `candelas` on the nominal 1000 cd/m2
// display: the display's light back to the scene's, then the HLG curve.
double HlgSignal(double candelas) {
    const double scene = std::pow(candelas / kHlgDisplayPeak, 1 / kHlgSystemGamma);
    const double a = 0.17883277;
    const double b = 1 - 4 * a;
    const double c = 0.5 - a * std::log(4 * a);
    return scene <= 1.0 / 12 ? std::sqrt(3 * scene) : a * std::log(12 * scene - b) + c;
}

struct GreyCase {
    const char* name;
    const char* transfer;  // as the ffmpeg program names it
    int sdrCode;           // the overlay's 8-bit grey
    bool keep = false;     // --overlay-transfer keep: the codes as they are
};

std::string Hex(int code) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", code, code, code);
    return text;
}

class SdrOverlayInHdrMain : public testing::TestWithParam<GreyCase> {};

TEST_P(SdrOverlayInHdrMain, LandsAtTheReferenceWhitesCodes) {
    const GreyCase& test = GetParam();
    ScratchFolder folder;
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    RunFfmpeg("-f lavfi -i color=c=0x404040:size=" + size +
              ":rate=25 -t 0.2 -pix_fmt yuv420p10le -c:v ffv1 -color_primaries bt2020 "
              "-color_trc " + test.transfer + " -colorspace bt2020nc '" + folder / "main.mkv" +
              "'");
    // Made in RGB, so that the grey is the exact code.
    RunFfmpeg("-f lavfi -i color=c=0x" + Hex(test.sdrCode) +
              ":size=16x16,format=rgb24 -frames:v 1 '" + folder / "grey.png" + "'");
    // The border, drawn in the same grey, must land where the overlay does.
    const RunResult run = RunQuillmere(
        {"render", folder / "main.mkv", "-o", folder / "out.mkv", "--overlay",
         folder / "grey.png", "--mask", "16,16,w16,h16", "--border", "4", "--border-color",
         "#" + Hex(test.sdrCode), "--overlay-transfer", test.keep ? "keep" : "convert", "-q"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    RunFfmpeg("-i '" + folder / "out.mkv" + "' -frames:v 1 -f rawvideo -pix_fmt yuv420p10le '" +
              folder / "out.yuv" + "'");
    std::ifstream in(folder / "out.yuv", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GE(bytes.size(), std::size_t{kWidth * kHeight * 2});
    const auto luma = [&](int x, int y) {
        const std::size_t at = 2 * static_cast<std::size_t>(y * kWidth + x);
        return static_cast<int>(static_cast<std::uint8_t>(bytes[at]) |
                                static_cast<std::uint8_t>(bytes[at + 1]) << 8);
    };
    const double candelas =
        kReferenceWhite * std::pow(test.sdrCode / 255.0, kSdrDisplayGamma);
    const double signal = test.keep ? test.sdrCode / 255.0
                          : std::string(test.transfer) == "smpte2084" ? PqSignal(candelas)
                                                                      : HlgSignal(candelas);
    // Limited range, 10 bits.
    const double expected = 64 + 876 * signal;
    EXPECT_NEAR(luma(24, 24), expected, 2.0) << "the overlay";
    EXPECT_NEAR(luma(14, 24), expected, 2.0) << "the border";
    EXPECT_EQ(luma(50, 40), luma(60, 4)) << "the main away from the overlay";
}

// 18% grey as an SDR display shows it: 0.18 of white's light.
const int kEighteenPercentGrey =
    static_cast<int>(std::lround(255 * std::pow(0.18, 1 / kSdrDisplayGamma)));

INSTANTIATE_TEST_SUITE_P(
    Greys, SdrOverlayInHdrMain,
    testing::Values(GreyCase{"WhiteInPq", "smpte2084", 255},
                    GreyCase{"GreyInPq", "smpte2084", kEighteenPercentGrey},
                    GreyCase{"BlackInPq", "smpte2084", 0},
                    GreyCase{"WhiteInHlg", "arib-std-b67", 255},
                    GreyCase{"GreyInHlg", "arib-std-b67", kEighteenPercentGrey},
                    GreyCase{"BlackInHlg", "arib-std-b67", 0},
                    GreyCase{"WhiteKeptInPq", "smpte2084", 255, true}),
    [](const testing::TestParamInfo<GreyCase>& info) { return std::string(info.param.name); });

}  // namespace
