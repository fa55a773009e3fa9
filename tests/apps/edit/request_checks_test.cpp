#include <gtest/gtest.h>

#include <string>

#include "apps/quillmere/edit/request_checks.h"

namespace {

constexpr int kPort = 43210;
const std::string kToken = "00112233445566778899aabbccddeeff";

// A request as the page itself makes it; each case changes one thing.
RequestFacts PageRequest(const std::string& method, const std::string& path) {
    RequestFacts request;
    request.method = method;
    request.path = path;
    request.host = "127.0.0.1:" + std::to_string(kPort);
    request.token = kToken;
    if (method == "POST") {
        request.origin = "http://127.0.0.1:" + std::to_string(kPort);
        request.contentType = "application/json";
        request.contentLength = 20;
    }
    return request;
}

struct CheckCase {
    const char* name;
    const char* method;
    const char* path;
    bool pageFile;
    void (*alter)(RequestFacts&);
    int status;  // 0: let through
};

void Unchanged(RequestFacts&) {}

class RequestCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(RequestCheckTest, DecidesAsTheRulesSay) {
    const CheckCase& c = GetParam();
    RequestFacts request = PageRequest(c.method, c.path);
    request.pageFile = c.pageFile;
    c.alter(request);
    const RequestVerdict verdict = CheckRequest(request, ServerIdentity{kPort, kToken});
    EXPECT_EQ(verdict.status, c.status) << verdict.reason;
    if (c.status != 0) {
        EXPECT_FALSE(verdict.reason.empty());
        EXPECT_EQ(verdict.reason.find('\n'), std::string::npos) << "one line";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestCheckTest,
    ::testing::Values(
        // What the page does.
        CheckCase{"PageFile", "GET", "/index.html", true, &Unchanged, 0},
        CheckCase{"PageFileWithoutToken", "GET", "/main.js", true,
                  [](RequestFacts& r) { r.token.reset(); }, 0},
        CheckCase{"SessionRead", "GET", "/api/session", false, &Unchanged, 0},
        CheckCase{"SettingsChange", "POST", "/api/settings", false, &Unchanged, 0},
        CheckCase{"JsonWithCharset", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.contentType = "application/json; charset=UTF-8"; }, 0},
        CheckCase{"Localhost", "POST", "/api/mask", false,
                  [](RequestFacts& r) {
                      r.host = "localhost:43210";
                      r.origin = "http://localhost:43210";
                  },
                  0},
        CheckCase{"Ipv6Loopback", "GET", "/api/picture", false,
                  [](RequestFacts& r) { r.host = "[::1]:43210"; }, 0},
        // DNS rebinding and other hosts.
        CheckCase{"ForeignHost", "GET", "/api/session", false,
                  [](RequestFacts& r) { r.host = "attacker.example:43210"; }, 403},
        CheckCase{"ForeignHostForPageFile", "GET", "/index.html", true,
                  [](RequestFacts& r) { r.host = "attacker.example:43210"; }, 403},
        CheckCase{"OtherPort", "GET", "/api/session", false,
                  [](RequestFacts& r) { r.host = "127.0.0.1:43211"; }, 403},
        CheckCase{"NoPort", "GET", "/api/session", false,
                  [](RequestFacts& r) { r.host = "127.0.0.1"; }, 403},
        CheckCase{"NoHost", "GET", "/api/session", false,
                  [](RequestFacts& r) { r.host.reset(); }, 403},
        CheckCase{"LoopbackLookalike", "GET", "/api/session", false,
                  [](RequestFacts& r) { r.host = "127.0.0.1.attacker.example:43210"; }, 403},
        // The token.
        CheckCase{"NoToken", "GET", "/api/picture", false,
                  [](RequestFacts& r) { r.token.reset(); }, 403},
        CheckCase{"WrongToken", "POST", "/api/render", false,
                  [](RequestFacts& r) { r.token = "00112233445566778899aabbccddeefe"; }, 403},
        CheckCase{"ShortToken", "POST", "/api/quit", false,
                  [](RequestFacts& r) { r.token = "0011"; }, 403},
        // Changes: Origin, type, size.
        CheckCase{"NoOrigin", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.origin.reset(); }, 403},
        CheckCase{"ForeignOrigin", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.origin = "http://attacker.example"; }, 403},
        CheckCase{"OriginOfOtherName", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.origin = "http://localhost:43210"; }, 403},
        CheckCase{"NullOrigin", "POST", "/api/save", false,
                  [](RequestFacts& r) { r.origin = "null"; }, 403},
        CheckCase{"FormPost", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.contentType = "application/x-www-form-urlencoded"; },
                  415},
        CheckCase{"NoType", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.contentType.reset(); }, 415},
        CheckCase{"HugeBody", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.contentLength = 10 * 1024 * 1024; }, 413},
        CheckCase{"LargestBody", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.contentLength = kMaxRequestBody; }, 0},
        CheckCase{"ChunkedBody", "POST", "/api/settings", false,
                  [](RequestFacts& r) {
                      r.contentLength.reset();
                      r.transferEncoding = "Chunked";
                  },
                  0},
        CheckCase{"BodyWithoutEnd", "POST", "/api/settings", false,
                  [](RequestFacts& r) { r.contentLength.reset(); }, 411},
        CheckCase{"BodyInAnUnknownCoding", "POST", "/api/settings", false,
                  [](RequestFacts& r) {
                      r.contentLength.reset();
                      r.transferEncoding = "gzip";
                  },
                  411},
        // Headers: a browser's twenty or so pass; thousands are refused, even
        // for a page file.
        CheckCase{"BrowsersHeaders", "GET", "/api/session", false,
                  [](RequestFacts& r) { r.headerCount = 20; }, 0},
        CheckCase{"ThousandsOfHeaders", "GET", "/index.html", true,
                  [](RequestFacts& r) { r.headerCount = 20000; }, 431},
        // Paths and methods.
        CheckCase{"PathOutsideTheApp", "GET", "/../../etc/passwd", false, &Unchanged, 404},
        CheckCase{"UnknownApi", "GET", "/api/files", false, &Unchanged, 404},
        CheckCase{"ChangeByGet", "GET", "/api/settings", false, &Unchanged, 405},
        CheckCase{"ReadByPost", "POST", "/api/session", false, &Unchanged, 405},
        CheckCase{"Preflight", "OPTIONS", "/api/settings", false, &Unchanged, 405},
        CheckCase{"WriteToPageFile", "POST", "/index.html", true, &Unchanged, 405}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

}  // namespace
