// The page's HTTP server, bounded against clients that send too much or too
// slowly. cpp-httplib reads a request with a timeout that starts again on
// every byte, takes any number of headers and any chunked body whole; here
// each connection is answered through a stream of its own that holds every
// request to
//
// - a time: the request line, headers and body arrive within requestTime
//   of its first byte;
// - a byte budget: headBytes for the request line and headers, and
//   bodyBytesOnTheWire for the body as sent (chunk framing included);
//
// and past either the request is answered (408, 431 or 413, one line of
// reason) and its connection closed. Connections are answered on threads
// added as they are needed, from kLeastThreads up to kMostThreads, so that a
// few slow clients waiting out their time leave threads for the page.
//
// The server answers errors itself (it sets the error and post-routing
// handlers): an answer without a body gets a one-line reason, and one that
// says "Connection: close" closes its connection, so that a body left
// unread is never taken for the next request.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include <httplib.h>

#include "apps/quillmere/edit/request_checks.h"

// What one request may take.
struct RequestBounds {
    std::chrono::seconds requestTime{10};
    // Writing one answer, however slowly the client takes it.
    std::chrono::seconds answerTime{30};
    // A browser's request line and headers take about 1 KiB.
    std::size_t headBytes = 16 * 1024;
    // Room for the framing of a chunked body of kMaxRequestBody bytes,
    // however finely chunked.
    std::size_t bodyBytesOnTheWire = 4 * kMaxRequestBody;
};

class BoundedServer : public httplib::Server {
public:
    static constexpr std::size_t kLeastThreads = 4;
    static constexpr std::size_t kMostThreads = 64;

    explicit BoundedServer(const RequestBounds& bounds = RequestBounds{});

protected:
    // Answers the requests of one accepted connection, then closes it.
    bool process_and_close_socket(socket_t sock) override;

private:
    const RequestBounds bounds_;
};

// Whether the library itself added `name` to a request's headers (the
// peer's and the server's address and port), rather than the client.
bool IsServerNotedHeader(const std::string& name);

// Answers with `status` and `reason` as one line of plain text.
void AnswerReason(httplib::Response& response, int status, const std::string& reason);

// For a content provider writing an answer that lasts as long as its client
// wants it (an event stream), called before each write: the write gets
// answerTime of its own, where an answer otherwise has it for all its
// writes. Returns false when the stream is to end: the client has closed
// its end, or the server stops.
bool KeepStreaming();
