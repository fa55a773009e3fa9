// The page's server reading one connection of raw bytes: request lines,
// headers and bodies (with a length, in chunks or with neither) of any
// number of requests, through its bounded stream. The bounds are made small
// so that short inputs reach them. Checks: the connection always ends; what
// the server sends starts with an HTTP/1.1 status line; no request reaches
// a handler with headers or a body past the bounds; JSON bodies are taken
// or refused with a one-line reason, as the page's are.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>

#include "apps/quillmere/cli/settings_file.h"
#include "apps/quillmere/edit/bounded_server.h"
#include "apps/quillmere/runner_error.h"
#include "fuzz_input.h"

namespace {

constexpr const char* kTarget = "page_request_fuzzer";
constexpr int kBadRequest = 400;

// Budgets a few requests' worth of input passes. The inputs never wait
// for the network: their connection ends with them.
const RequestBounds kBounds{std::chrono::seconds(1), std::chrono::seconds(1), 128, 256};

void CheckBounds(const httplib::Request& request) {
    std::size_t head = 0;
    for (const auto& [name, value] : request.headers) {
        head += IsServerNotedHeader(name) ? 0 : name.size() + value.size();
    }
    FUZZ_CHECK(head <= kBounds.headBytes, kTarget,
               "headers of " + std::to_string(head) + " bytes were read");
    FUZZ_CHECK(request.body.size() <= kBounds.bodyBytesOnTheWire, kTarget,
               "a body of " + std::to_string(request.body.size()) + " bytes was read");
}

class FuzzServer : public BoundedServer {
public:
    FuzzServer() : BoundedServer(kBounds) {
        Get("/", [](const httplib::Request& request, httplib::Response& response) {
            CheckBounds(request);
            response.set_content("ok\n", "text/plain");
        });
        Post("/json", [](const httplib::Request& request, httplib::Response& response) {
            CheckBounds(request);
            try {
                response.set_content(ParseJson(request.body).dump(), "application/json");
            } catch (const UsageError& refused) {
                const std::string reason = refused.what();
                FUZZ_CHECK(reason.find('\n') == std::string::npos, kTarget,
                           "a refusal of more than one line: " + reason);
                AnswerReason(response, kBadRequest, reason);
            }
        });
        // Nothing connects to it: the connection loop runs while the server
        // listens.
        bind_to_any_port("127.0.0.1");
    }
    using BoundedServer::process_and_close_socket;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzServer server;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        return 0;
    }
    const int client = ends[1];
    std::thread feed([client, data, size] {
        for (std::size_t sent = 0; sent < size;) {
            const ssize_t count = send(client, data + sent, size - sent, MSG_NOSIGNAL);
            if (count <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(count);
        }
        shutdown(client, SHUT_WR);
    });
    std::string answers;
    std::thread drain([client, &answers] {
        char buffer[4096];
        ssize_t count = 0;
        while ((count = read(client, buffer, sizeof buffer)) > 0) {
            answers.append(buffer, static_cast<std::size_t>(count));
        }
    });
    server.process_and_close_socket(ends[0]);
    feed.join();
    drain.join();
    close(client);
    FUZZ_CHECK(answers.empty() || answers.rfind("HTTP/1.1 ", 0) == 0, kTarget,
               "sent something other than an answer: " + answers.substr(0, 80));
    return 0;
}
