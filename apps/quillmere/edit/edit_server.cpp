#include "apps/quillmere/edit/edit_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <httplib.h>

#include "apps/quillmere/cli/settings_file.h"
#include "apps/quillmere/edit/bounded_server.h"
#include "apps/quillmere/edit/page_files.h"
#include "apps/quillmere/edit/request_checks.h"
#include "apps/quillmere/edit/session_token.h"
#include "apps/quillmere/runner_error.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kIpv4Loopback = "127.0.0.1";
constexpr const char* kIpv6Loopback = "::1";
// Tries at a free port that both loopback addresses have free.
constexpr int kBindAttempts = 20;
// Requests that keep their connection wait this long for the next one; the
// server, once told to stop, waits as long for them.
constexpr int kKeepAliveSeconds = 2;
constexpr auto kStopPollPeriod = std::chrono::milliseconds(100);
constexpr auto kStartPollPeriod = std::chrono::milliseconds(1);
constexpr auto kStartWait = std::chrono::seconds(5);

constexpr int kBadRequest = 400;
constexpr int kPayloadTooLarge = 413;
constexpr int kServerError = 500;

constexpr const char* kJsonType = "application/json";
constexpr const char* kPngType = "image/png";
constexpr const char* kJpegType = "image/jpeg";
constexpr const char* kFrameHeader = "X-Quillmere-Frame";
constexpr const char* kExactHeader = "X-Quillmere-Exact";
constexpr const char* kPictureHeader = "X-Quillmere-Picture";
// x,y,width,height of the part of the picture the body holds.
constexpr const char* kTileHeader = "X-Quillmere-Tile";

// Sent with every answer: the page runs only its own scripts and styles,
// never inside another site's frame, and nothing is cached or referred.
const httplib::Headers kAnswerHeaders = {
    {"Content-Security-Policy", "default-src 'self'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

void AnswerJson(httplib::Response& response, const Json& body) {
    response.set_content(body.dump(), kJsonType);
}

std::optional<std::string> HeaderOf(const httplib::Request& request, const char* name) {
    if (!request.has_header(name)) {
        return std::nullopt;
    }
    return request.get_header_value(name);
}

RequestFacts FactsOf(const httplib::Request& request) {
    RequestFacts facts;
    facts.method = request.method;
    facts.path = request.path;
    facts.host = HeaderOf(request, "Host");
    facts.origin = HeaderOf(request, "Origin");
    facts.token = HeaderOf(request, kTokenHeader);
    facts.contentType = HeaderOf(request, "Content-Type");
    facts.transferEncoding = HeaderOf(request, "Transfer-Encoding");
    if (const auto length = HeaderOf(request, "Content-Length")) {
        // A length beyond any number counts as too large.
        try {
            facts.contentLength = std::stoull(*length);
        } catch (const std::exception&) {
            facts.contentLength = UINT64_MAX;
        }
    }
    for (const auto& header : request.headers) {
        facts.headerCount += IsServerNotedHeader(header.first) ? 0 : 1;
    }
    facts.pageFile = FindPageFile(request.path) != nullptr;
    return facts;
}

Json ParseBody(const httplib::Request& request) {
    // The request checks see only a declared length; a chunked body is
    // measured here.
    if (request.body.size() > kMaxRequestBody) {
        throw RequestError(kPayloadTooLarge, BodyTooLargeReason());
    }
    try {
        return ParseJson(request.body);
    } catch (const UsageError& error) {
        throw RequestError(kBadRequest, error.what());
    }
}

// Whether this system can listen on ::1 at all.
bool HasIpv6Loopback() {
    const int probe = socket(AF_INET6, SOCK_STREAM, 0);
    if (probe < 0) {
        return false;
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return bound;
}

// Requests that carry no data still come as JSON, and as nothing else.
void RequireEmptyObject(const httplib::Request& request) {
    const Json body = ParseBody(request);
    if (!body.is_object() || !body.empty()) {
        throw RequestError(kBadRequest, "this request takes an empty JSON object, {}");
    }
}

}  // namespace

struct EditServer::Listener {
    BoundedServer server;
    std::thread thread;
};

EditServer::EditServer(EditSession& session, int port)
    : session_(session),
      events_({{"session", [&session] { return session.Describe(); }},
               {"render", [&session] { return session.RenderProgress(); }, true}}),
      token_(NewSessionToken()) {
    const bool ipv6 = HasIpv6Loopback();
    const auto configured = [this]() {
        auto listener = std::make_unique<Listener>();
        BoundedServer& server = listener->server;
        server.set_default_headers(kAnswerHeaders);
        server.set_keep_alive_timeout(kKeepAliveSeconds);
        server.set_payload_max_length(kMaxRequestBody);
        server.set_expect_100_continue_handler(
            [](const httplib::Request& request, httplib::Response& response) {
                const RequestFacts facts = FactsOf(request);
                if (facts.contentLength && *facts.contentLength > kMaxRequestBody) {
                    AnswerReason(response, kPayloadTooLarge, "request body too large");
                    return kPayloadTooLarge;
                }
                return 100;
            });
        server.set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) {
                const RequestVerdict verdict =
                    CheckRequest(FactsOf(request), ServerIdentity{port_, token_});
                if (verdict.allowed()) {
                    return httplib::Server::HandlerResponse::Unhandled;
                }
                AnswerReason(response, verdict.status, verdict.reason);
                // A body left unread would be taken for the next request.
                response.set_header("Connection", "close");
                return httplib::Server::HandlerResponse::Handled;
            });
        server.set_exception_handler(
            [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
                try {
                    std::rethrow_exception(error);
                } catch (const RequestError& refused) {
                    AnswerReason(response, refused.status(), refused.what());
                } catch (const UsageError& refused) {
                    AnswerReason(response, kBadRequest, refused.what());
                } catch (const std::exception& failure) {
                    AnswerReason(response, kServerError, failure.what());
                } catch (...) {
                    AnswerReason(response, kServerError, "unexpected failure");
                }
            });
        for (int index = 0; index < kApiRouteCount; ++index) {
            const ApiRouteRow& row = kApiRoutes[index];
            const ApiRoute route = row.route;
            const auto handler = [this, route](const httplib::Request& request,
                                               httplib::Response& response) {
                Answer(route, request, response);
            };
            if (std::string(row.method) == "POST") {
                server.Post(row.path, handler);
            } else {
                server.Get(row.path, handler);
            }
        }
        server.Get(".*", [](const httplib::Request& request, httplib::Response& response) {
            const EmbeddedFile* file = FindPageFile(request.path);
            response.set_content(reinterpret_cast<const char*>(file->bytes), file->size,
                                 PageFileType(*file));
        });
        return listener;
    };

    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        ipv4_ = configured();
        if (port != 0) {
            if (!ipv4_->server.bind_to_port(kIpv4Loopback, port)) {
                throw RunnerError("cannot listen on " + std::string(kIpv4Loopback) + " port " +
                                  std::to_string(port) + ": the port is in use or not allowed");
            }
            port_ = port;
        } else {
            port_ = ipv4_->server.bind_to_any_port(kIpv4Loopback);
            if (port_ < 0) {
                throw RunnerError("cannot listen on " + std::string(kIpv4Loopback));
            }
        }
        if (!ipv6) {
            return;
        }
        ipv6_ = configured();
        if (ipv6_->server.bind_to_port(kIpv6Loopback, port_)) {
            return;
        }
        ipv6_.reset();
        if (port != 0) {
            throw RunnerError("cannot listen on [::1] port " + std::to_string(port) +
                              ": the port is in use");
        }
    }
    throw RunnerError("cannot find a port free on both 127.0.0.1 and [::1]");
}

EditServer::~EditServer() {
    for (Listener* listener : {ipv4_.get(), ipv6_.get()}) {
        if (listener != nullptr) {
            listener->server.stop();
            if (listener->thread.joinable()) {
                listener->thread.join();
            }
        }
    }
}

std::string EditServer::address() const {
    return "http://" + std::string(kIpv4Loopback) + ":" + std::to_string(port_) +
           "/#token=" + token_;
}

void EditServer::Answer(ApiRoute route, const httplib::Request& request,
                        httplib::Response& response) {
    switch (route) {
    case ApiRoute::Session:
        AnswerJson(response, session_.Describe());
        return;
    case ApiRoute::Picture: {
        if (request.has_param("width")) {
            // Playback: a scaled-down JPEG of the frame, as it comes.
            const ComposedPicture picture = session_.PlaybackPicture(
                request.get_param_value("at"), request.get_param_value("width"));
            response.set_header(kFrameHeader, std::to_string(picture.frame));
            response.set_header(kExactHeader, "1");
            response.set_header(kPictureHeader, "0");
            response.set_content(picture.jpeg, kJpegType);
            return;
        }
        const ComposedPicture picture =
            session_.Picture(request.get_param_value("at"), request.has_param("quick"),
                             request.get_param_value("over"));
        response.set_header(kFrameHeader, std::to_string(picture.frame));
        response.set_header(kExactHeader, picture.exact ? "1" : "0");
        response.set_header(kPictureHeader, std::to_string(picture.id));
        if (picture.tile) {
            const PictureRect& tile = *picture.tile;
            response.set_header(kTileHeader, std::to_string(tile.x) + "," +
                                                 std::to_string(tile.y) + "," +
                                                 std::to_string(tile.width) + "," +
                                                 std::to_string(tile.height));
        }
        response.set_content(picture.png, kPngType);
        return;
    }
    case ApiRoute::Readouts:
        AnswerJson(response, session_.Readouts(request.get_param_value("mask")));
        return;
    case ApiRoute::Settings:
        AnswerJson(response, session_.Change(ParseBody(request)));
        events_.Changed();
        return;
    case ApiRoute::Mask:
        AnswerJson(response, session_.ReleaseMask(ParseBody(request)));
        events_.Changed();
        return;
    case ApiRoute::Save:
        RequireEmptyObject(request);
        AnswerJson(response, session_.Save());
        return;
    case ApiRoute::Render:
        AnswerJson(response, session_.StartRender(ParseBody(request)));
        events_.Changed();
        return;
    case ApiRoute::RenderStatus:
        AnswerJson(response, session_.RenderProgress());
        return;
    case ApiRoute::RenderCancel:
        RequireEmptyObject(request);
        AnswerJson(response, session_.CancelRender());
        events_.Changed();
        return;
    case ApiRoute::Quit:
        RequireEmptyObject(request);
        AnswerJson(response, Json{{"quitting", true}});
        {
            std::lock_guard<std::mutex> lock(stopMutex_);
            quitRequested_ = true;
        }
        stopSignal_.notify_all();
        return;
    case ApiRoute::Events:
        events_.Answer(response);
        return;
    }
}

bool EditServer::Serve(const std::function<bool()>& stopRequested) {
    for (Listener* listener : {ipv4_.get(), ipv6_.get()}) {
        if (listener != nullptr) {
            listener->thread = std::thread([listener] { listener->server.listen_after_bind(); });
        }
    }
    // Stopping a server that has not begun to listen would not stop it.
    const auto startDeadline = std::chrono::steady_clock::now() + kStartWait;
    for (Listener* listener : {ipv4_.get(), ipv6_.get()}) {
        while (listener != nullptr && !listener->server.is_running() &&
               std::chrono::steady_clock::now() < startDeadline) {
            std::this_thread::sleep_for(kStartPollPeriod);
        }
    }
    {
        std::unique_lock<std::mutex> lock(stopMutex_);
        while (!quitRequested_ && !stopRequested()) {
            stopSignal_.wait_for(lock, kStopPollPeriod);
        }
    }
    for (Listener* listener : {ipv4_.get(), ipv6_.get()}) {
        if (listener != nullptr) {
            listener->server.stop();
            listener->thread.join();
        }
    }
    return quitRequested_;
}
