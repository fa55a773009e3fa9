// The page's web server: the page's own files and the session's requests,
// on the loopback interface only (127.0.0.1, and ::1 where the system has
// it), behind the checks of request_checks.h.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "apps/quillmere/edit/api_routes.h"
#include "apps/quillmere/edit/edit_session.h"
#include "apps/quillmere/edit/event_feed.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

class EditServer {
public:
    // Binds both loopback addresses to `port`, or to one free port when it
    // is 0. Throws RunnerError when that cannot be done.
    EditServer(EditSession& session, int port);
    ~EditServer();
    EditServer(const EditServer&) = delete;
    EditServer& operator=(const EditServer&) = delete;

    int port() const { return port_; }
    // The address to open: the page, with the session token in the fragment
    // (which the browser never sends, so it stays out of logs and Referer).
    std::string address() const;

    // Serves until the page asks to quit or `stopRequested` (polled a few
    // times a second) says so. Returns true when the page asked.
    bool Serve(const std::function<bool()>& stopRequested);

private:
    struct Listener;

    void Answer(ApiRoute route, const httplib::Request& request, httplib::Response& response);

    EditSession& session_;
    // Before the listeners: their answers may stream from it until they stop.
    EventFeed events_;
    std::string token_;
    int port_ = 0;
    std::unique_ptr<Listener> ipv4_;
    std::unique_ptr<Listener> ipv6_;  // null where the system has no ::1
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool quitRequested_ = false;
};
