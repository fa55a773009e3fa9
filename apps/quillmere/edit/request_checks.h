// The gate every request to the page's server passes before any work: who
// may ask what, decided from the request line and headers alone, so that it
// is tested without a socket.
//
// - The Host header must name the loopback interface or localhost with the
//   server's port: a page of another site whose name was made to resolve to
//   127.0.0.1 (DNS rebinding) still sends its own name and is refused.
// - The page's own files are served to anyone who passes that; every API
//   request needs the session token in its header.
// - A request that changes something is a POST of JSON whose Origin is the
//   page's own, and its body is small and has an end: a length, or chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "apps/quillmere/edit/api_routes.h"

struct RequestFacts {
    std::string method;
    std::string path;                          // without the query
    std::optional<std::string> host;           // Host
    std::optional<std::string> origin;         // Origin
    std::optional<std::string> token;          // kTokenHeader
    std::optional<std::string> contentType;    // Content-Type
    std::optional<std::uint64_t> contentLength;  // Content-Length, when declared
    std::optional<std::string> transferEncoding;  // Transfer-Encoding
    std::size_t headerCount = 0;  // header lines the request came with
    bool pageFile = false;  // the path names one of the page's own files
};

struct ServerIdentity {
    int port = 0;
    std::string token;
};

struct RequestVerdict {
    int status = 0;      // 0: go on; else the HTTP status to answer with
    std::string reason;  // one line, for the answer's body
    const ApiRouteRow* route = nullptr;  // the API route, when it is one
    bool allowed() const { return status == 0; }
};

// The largest request body taken: far more than any settings change needs.
// It holds however the body comes, with a length or in chunks.
constexpr std::uint64_t kMaxRequestBody = 64 * 1024;
// The most header lines a request may have: a browser sends about twenty.
constexpr std::size_t kMaxRequestHeaders = 100;

// Why a body over kMaxRequestBody is refused (413), wherever that is seen.
std::string BodyTooLargeReason();

RequestVerdict CheckRequest(const RequestFacts& request, const ServerIdentity& server);

// Whether `host` (a Host header's value) names this server: 127.0.0.1,
// [::1] or localhost, with `port` (or without a port when it is 80).
bool IsOwnHost(const std::string& host, int port);
