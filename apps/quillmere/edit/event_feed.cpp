#include "apps/quillmere/edit/event_feed.h"

#include <httplib.h>

#include "apps/quillmere/edit/bounded_server.h"

namespace {

constexpr int kServiceUnavailable = 503;
constexpr const char* kEventStreamType = "text/event-stream";

}  // namespace

// One open stream: what it has been sent. Counted open from its making to
// the end of its answer, when the library lets go of the answer's provider.
struct EventFeed::Stream {
    explicit Stream(EventFeed& owner) : feed(owner), sent(owner.sources_.size()) {}
    ~Stream() { --feed.open_; }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    EventFeed& feed;
    std::uint64_t generation = 0;  // the feed's, when last looked; 0: never
    std::vector<std::string> sent;  // each source's state as last sent
};

EventFeed::EventFeed(std::vector<EventSource> sources, std::size_t mostStreams)
    : sources_(std::move(sources)), mostStreams_(mostStreams) {}

void EventFeed::Answer(httplib::Response& response) {
    if (open_.fetch_add(1) >= mostStreams_) {
        --open_;
        AnswerReason(response, kServiceUnavailable,
                     "too many pages follow this session (at most " +
                         std::to_string(mostStreams_) + "): close one and reload");
        // Its thread is wanted for the pages already open.
        response.set_header("Connection", "close");
        return;
    }
    auto stream = std::make_shared<Stream>(*this);
    response.set_chunked_content_provider(
        kEventStreamType, [this, stream](std::size_t, httplib::DataSink& sink) {
            const std::string events = NextEvents(*stream);
            if (!KeepStreaming()) {
                sink.done();  // ends the answer as a whole one, if the client is there
                return true;
            }
            return events.empty() || sink.write(events.data(), events.size());
        });
}

void EventFeed::Changed() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
    }
    changed_.notify_all();
}

std::string EventFeed::NextEvents(Stream& stream) {
    bool changed = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, stream.generation == 0 ? std::chrono::milliseconds(0)
                                                       : kPollPeriod,
                          [&] { return stream.generation != generation_; });
        changed = stream.generation != generation_;
        stream.generation = generation_;
    }
    std::string events;
    for (std::size_t index = 0; index < sources_.size(); ++index) {
        const EventSource& source = sources_[index];
        if (!changed && !source.polled) {
            continue;
        }
        // A path that is not UTF-8 shows with replacement characters, as
        // nowhere else would it stop the stream.
        std::string state =
            source.state().dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        if (state != stream.sent[index]) {
            events += "event: " + source.name + "\ndata: " + state + "\n\n";
            stream.sent[index] = std::move(state);
        }
    }
    return events;
}
