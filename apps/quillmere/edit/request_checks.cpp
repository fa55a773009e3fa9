#include "apps/quillmere/edit/request_checks.h"

#include <cctype>

#include "apps/quillmere/edit/session_token.h"

namespace {

// The names under which the server is reached.
const char* const kOwnHostNames[] = {"127.0.0.1", "[::1]", "localhost"};
constexpr int kDefaultHttpPort = 80;
constexpr const char* kJsonType = "application/json";

constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kMethodNotAllowed = 405;
constexpr int kLengthRequired = 411;
constexpr int kPayloadTooLarge = 413;
constexpr int kUnsupportedMediaType = 415;
constexpr int kHeadersTooLarge = 431;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

RequestVerdict Refuse(int status, std::string reason) {
    RequestVerdict verdict;
    verdict.status = status;
    verdict.reason = std::move(reason);
    return verdict;
}

// "application/json" or "application/json; charset=utf-8".
bool IsJsonType(const std::string& contentType) {
    const std::string type = Lower(contentType.substr(0, contentType.find(';')));
    const auto first = type.find_first_not_of(' ');
    const auto last = type.find_last_not_of(' ');
    return first != std::string::npos && type.substr(first, last - first + 1) == kJsonType;
}

}  // namespace

bool IsOwnHost(const std::string& host, int port) {
    const std::string lower = Lower(host);
    for (const char* name : kOwnHostNames) {
        const std::string withPort = std::string(name) + ":" + std::to_string(port);
        if (lower == withPort || (port == kDefaultHttpPort && lower == name)) {
            return true;
        }
    }
    return false;
}

std::string BodyTooLargeReason() {
    return "request body over " + std::to_string(kMaxRequestBody / 1024) + " KiB";
}

RequestVerdict CheckRequest(const RequestFacts& request, const ServerIdentity& server) {
    if (request.headerCount > kMaxRequestHeaders) {
        return Refuse(kHeadersTooLarge, "more than " + std::to_string(kMaxRequestHeaders) +
                                            " request headers");
    }
    if (!request.host || !IsOwnHost(*request.host, server.port)) {
        return Refuse(kForbidden, "this server answers only to 127.0.0.1, [::1] or localhost "
                                  "on port " + std::to_string(server.port));
    }
    if (request.pageFile) {
        if (request.method != "GET" && request.method != "HEAD") {
            return Refuse(kMethodNotAllowed, "the page's files are only read (GET)");
        }
        return RequestVerdict{};
    }
    if (!IsApiPath(request.path)) {
        return Refuse(kNotFound, "no such page or request");
    }
    if (!request.token) {
        return Refuse(kForbidden, "missing session token: open the address the runner printed");
    }
    if (!TokensMatch(*request.token, server.token)) {
        return Refuse(kForbidden, "wrong session token: open the address the runner printed");
    }
    RequestVerdict verdict;
    verdict.route = FindApiRoute(request.method, request.path);
    if (verdict.route == nullptr) {
        return Refuse(kMethodNotAllowed, "method " + request.method + " not allowed on " +
                                             request.path);
    }
    if (request.method != "POST") {
        return verdict;
    }
    // A form or a script of another site cannot name our origin; the page's
    // own requests always carry it.
    const std::string ownOrigin = "http://" + Lower(*request.host);
    if (!request.origin) {
        return Refuse(kForbidden, "a change must come with the page's Origin");
    }
    if (Lower(*request.origin) != ownOrigin) {
        return Refuse(kForbidden, "a change must come from the page itself (" + ownOrigin + ")");
    }
    if (!request.contentType || !IsJsonType(*request.contentType)) {
        return Refuse(kUnsupportedMediaType, "a change is sent as application/json");
    }
    if (request.contentLength && *request.contentLength > kMaxRequestBody) {
        return Refuse(kPayloadTooLarge, BodyTooLargeReason());
    }
    // Without either, the body would be read until the client closes.
    if (!request.contentLength &&
        !(request.transferEncoding && Lower(*request.transferEncoding) == "chunked")) {
        return Refuse(kLengthRequired, "a change must give its length (Content-Length) or "
                                       "come in chunks");
    }
    return verdict;
}
