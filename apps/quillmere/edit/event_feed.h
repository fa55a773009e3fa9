// The session's state pushed to every open page as server-sent events, so
// that pages open in several tabs show one state. Each stream starts with
// every source's state and then sends a source's state again whenever it
// differs from what that stream last sent:
//
//     event: NAME
//     data: {...the state as one line of JSON...}
//
// A source is looked at when told that something changed (Changed()), and
// a polled one also every kPollPeriod, for what changes without a request
// (a render's progress). Each stream holds one of the server's threads for
// as long as its page is open, so at most `mostStreams` are open at once;
// one more is refused with 503 and one line. A stream ends when its client
// closes its end or the server stops.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace httplib {
struct Response;
}  // namespace httplib

struct EventSource {
    std::string name;
    std::function<nlohmann::ordered_json()> state;
    bool polled = false;  // looked at every kPollPeriod too
};

class EventFeed {
public:
    static constexpr std::size_t kMostStreams = 16;
    static constexpr std::chrono::milliseconds kPollPeriod{200};

    explicit EventFeed(std::vector<EventSource> sources, std::size_t mostStreams = kMostStreams);
    EventFeed(const EventFeed&) = delete;
    EventFeed& operator=(const EventFeed&) = delete;

    // Answers a request for the events with a stream of them, or with 503
    // when `mostStreams` are open. The feed must outlive the answer.
    void Answer(httplib::Response& response);
    // Something changed: every stream looks at every source at once.
    void Changed();
    std::size_t openStreams() const { return open_; }

private:
    struct Stream;
    // The events `stream` has not had yet, waiting a poll period for a
    // change when there are none; "" when nothing new came.
    std::string NextEvents(Stream& stream);

    const std::vector<EventSource> sources_;
    const std::size_t mostStreams_;
    std::atomic<std::size_t> open_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t generation_ = 1;
};
