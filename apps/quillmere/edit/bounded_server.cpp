#include "apps/quillmere/edit/bounded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks whether the server is stopping.
constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// A connection closed after a refusal is read from (and the bytes dropped)
// for a while first: closing it with a client's bytes unread would reset
// it, and the client could lose the answer.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kLingerBytes = 1 << 20;
constexpr std::size_t kReadBufferBytes = 4096;

constexpr int kRequestTimeout = 408;
constexpr int kPayloadTooLarge = 413;
constexpr int kHeadersTooLarge = 431;

constexpr const char* kPlainText = "text/plain; charset=utf-8";

const char* const kServerNotedHeaders[] = {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR",
                                           "LOCAL_PORT"};

// Where reading a request stopped short.
enum class Cut { None, Head, Body, Time };

// One connection: its socket, read through a buffer and within the bounds
// of the request being read, and written within the time of an answer.
class Connection : public httplib::Stream {
public:
    Connection(socket_t socket, const std::atomic<socket_t>& listening,
               const RequestBounds& bounds)
        : socket_(socket), listening_(listening), bounds_(bounds) {}

    // Whether a request begins (or the client closes) within `idle`.
    bool WaitForRequest(Clock::duration idle) {
        return buffered() > 0 || Await(POLLIN, Clock::now() + idle, true);
    }
    // The request's time starts with its first byte, which is there.
    void BeginRequest() {
        requestDeadline_ = Clock::now() + bounds_.requestTime;
        answerDeadline_.reset();
        budget_ = bounds_.headBytes;
        delivered_ = 0;
        inBody_ = false;
    }
    // The library has the headers; what it reads now is the body.
    void BeginBody() {
        budget_ = bounds_.bodyBytesOnTheWire;
        delivered_ = 0;
        inBody_ = true;
    }
    Cut cut() const { return cut_; }
    void CloseAfterAnswer() { closing_ = true; }
    // A streamed answer's next write has its own time.
    void RenewAnswerTime() { answerDeadline_ = Clock::now() + bounds_.answerTime; }
    // Whether the client has closed its end: it sends nothing more while a
    // stream is answered, so anything readable there is its end (or a reset).
    bool ClientClosed() const {
        pollfd entry{socket_, POLLIN | POLLRDHUP, 0};
        if (poll(&entry, 1, 0) <= 0) {
            return false;
        }
        if ((entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return true;
        }
        char byte = 0;
        return recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }
    bool closing() const { return closing_ || cut_ != Cut::None; }
    bool Stopping() const { return listening_ == INVALID_SOCKET; }

    // Ends the connection's sending and drops what the client still sends,
    // for a bounded time and amount, when it has sent more than was read.
    void Linger() {
        pollfd entry{socket_, POLLIN, 0};
        if (buffered() == 0 && poll(&entry, 1, 0) <= 0) {
            return;
        }
        shutdown(socket_, SHUT_WR);
        const Clock::time_point deadline = Clock::now() + kLingerTime;
        std::array<char, kReadBufferBytes> sink;
        std::size_t dropped = 0;
        while (dropped < kLingerBytes && Await(POLLIN, deadline, true)) {
            const ssize_t got = recv(socket_, sink.data(), sink.size(), MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK &&
                             errno != EINTR)) {
                return;
            }
            dropped += got > 0 ? static_cast<std::size_t>(got) : 0;
        }
    }

    bool is_readable() const override {
        return buffered() > 0 || Await(POLLIN, requestDeadline_, true);
    }
    bool is_writable() const override {
        return Await(POLLOUT, answerDeadline_.value_or(Clock::now() + bounds_.answerTime), false);
    }

    ssize_t read(char* ptr, size_t size) override {
        if (cut_ != Cut::None) {
            return -1;
        }
        if (delivered_ >= budget_) {
            cut_ = inBody_ ? Cut::Body : Cut::Head;
            return -1;
        }
        while (buffered() == 0) {
            if (!Await(POLLIN, requestDeadline_, true)) {
                if (!Stopping()) {
                    cut_ = Cut::Time;
                }
                return -1;
            }
            const ssize_t got = recv(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
            if (got == 0) {
                return 0;
            }
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    continue;
                }
                return -1;
            }
            start_ = 0;
            end_ = static_cast<std::size_t>(got);
        }
        const std::size_t count = std::min({size, buffered(), budget_ - delivered_});
        std::memcpy(ptr, buffer_.data() + start_, count);
        start_ += count;
        delivered_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!answerDeadline_) {
            answerDeadline_ = Clock::now() + bounds_.answerTime;
        }
        for (;;) {
            const ssize_t sent = send(socket_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                return sent;
            }
            if (errno == EINTR) {
                continue;
            }
            // An answer under way is finished even while the server stops:
            // the page's own Quit is answered so.
            if ((errno != EAGAIN && errno != EWOULDBLOCK) ||
                !Await(POLLOUT, *answerDeadline_, false)) {
                return -1;
            }
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(getsockname, ip, port);
    }
    socket_t socket() const override { return socket_; }

private:
    std::size_t buffered() const { return end_ - start_; }

    // Waits until the socket has `events` or `deadline` passes (false), in
    // slices, giving up early when `heedStop` and the server stops.
    bool Await(short events, Clock::time_point deadline, bool heedStop) const {
        for (;;) {
            if (heedStop && Stopping()) {
                return false;
            }
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                return false;
            }
            const auto slice = std::min<Clock::duration>(deadline - now, kWaitSlice);
            pollfd entry{socket_, events, 0};
            const int ready = poll(
                &entry, 1,
                static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
            if (ready > 0) {
                return true;  // an error or hang-up too: the read or write then says so
            }
            if (ready < 0 && errno != EINTR) {
                return false;
            }
        }
    }

    void AddressOf(int (*name)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (name(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        std::array<char, INET6_ADDRSTRLEN> text{};
        if (address.ss_family == AF_INET) {
            const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
            inet_ntop(AF_INET, &v4.sin_addr, text.data(), text.size());
            port = ntohs(v4.sin_port);
        } else if (address.ss_family == AF_INET6) {
            const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
            inet_ntop(AF_INET6, &v6.sin6_addr, text.data(), text.size());
            port = ntohs(v6.sin6_port);
        }
        ip = text.data();
    }

    socket_t socket_;
    const std::atomic<socket_t>& listening_;
    const RequestBounds& bounds_;
    std::array<char, kReadBufferBytes> buffer_{};
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    Clock::time_point requestDeadline_{};
    std::optional<Clock::time_point> answerDeadline_;
    std::size_t budget_ = 0;
    std::size_t delivered_ = 0;
    bool inBody_ = false;
    Cut cut_ = Cut::None;
    bool closing_ = false;
};

// The connection this thread is answering: the library's handlers see only
// the request and the answer, and a connection is answered on one thread.
thread_local Connection* tAnswering = nullptr;

class AnsweringOn {
public:
    explicit AnsweringOn(Connection& connection) { tAnswering = &connection; }
    ~AnsweringOn() { tAnswering = nullptr; }
    AnsweringOn(const AnsweringOn&) = delete;
    AnsweringOn& operator=(const AnsweringOn&) = delete;
};

// Threads started as jobs find none idle, up to a bound; past it, jobs wait
// their turn. Threads stay until the server stops.
class ElasticTaskQueue : public httplib::TaskQueue {
public:
    ElasticTaskQueue(std::size_t least, std::size_t most) : most_(most) {
        std::lock_guard<std::mutex> lock(mutex_);
        while (threads_.size() < least) {
            threads_.emplace_back([this] { Work(); });
        }
    }
    ~ElasticTaskQueue() override = default;

    void enqueue(std::function<void()> job) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
            if (idle_ < jobs_.size() && threads_.size() < most_) {
                threads_.emplace_back([this] { Work(); });
            }
        }
        ready_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        // No thread is added once stopping: the server enqueues no more.
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty()) {
                return;  // stopping, with nothing left to do
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const std::size_t most_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

// SO_REUSEADDR alone: the library's default adds SO_REUSEPORT, with which a
// second server would share a port another holds instead of being refused.
void ReuseAddressOnly(socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

std::string SecondsText(std::chrono::seconds time) {
    return std::to_string(time.count()) + " s";
}

std::string BytesText(std::size_t bytes) {
    return bytes % 1024 == 0 ? std::to_string(bytes / 1024) + " KiB"
                             : std::to_string(bytes) + " bytes";
}

}  // namespace

bool IsServerNotedHeader(const std::string& name) {
    for (const char* noted : kServerNotedHeaders) {
        if (name == noted) {
            return true;
        }
    }
    return false;
}

void AnswerReason(httplib::Response& response, int status, const std::string& reason) {
    response.status = status;
    response.set_content(reason + "\n", kPlainText);
}

bool KeepStreaming() {
    if (tAnswering == nullptr) {
        return false;
    }
    if (tAnswering->Stopping() || tAnswering->ClientClosed()) {
        tAnswering->CloseAfterAnswer();
        return false;
    }
    tAnswering->RenewAnswerTime();
    return true;
}

BoundedServer::BoundedServer(const RequestBounds& bounds) : bounds_(bounds) {
    new_task_queue = [] { return new ElasticTaskQueue(kLeastThreads, kMostThreads); };
    set_socket_options(&ReuseAddressOnly);
    set_error_handler([this](const httplib::Request&, httplib::Response& response) {
        const Cut cut = tAnswering != nullptr ? tAnswering->cut() : Cut::None;
        switch (cut) {
        case Cut::Head:
            AnswerReason(response, kHeadersTooLarge,
                         "request headers over " + BytesText(bounds_.headBytes));
            break;
        case Cut::Body:
            AnswerReason(response, kPayloadTooLarge, BodyTooLargeReason());
            break;
        case Cut::Time:
            AnswerReason(response, kRequestTimeout,
                         "request not received within " + SecondsText(bounds_.requestTime) +
                             " of its start");
            break;
        case Cut::None:
            // Answers the library makes itself (a malformed request line, a
            // URI too long) get a reason too.
            if (response.body.empty()) {
                AnswerReason(response, response.status,
                             "request refused (HTTP " + std::to_string(response.status) + ")");
            }
            return;
        }
        response.set_header("Connection", "close");
    });
    set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        if (tAnswering != nullptr && response.get_header_value("Connection") == "close") {
            tAnswering->CloseAfterAnswer();
            response.headers.erase("Keep-Alive");
        }
    });
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
    Connection connection(sock, svr_sock_, bounds_);
    const auto idle = std::chrono::seconds(keep_alive_timeout_sec_);
    bool answered = false;
    for (std::size_t left = keep_alive_max_count_;
         left > 0 && !connection.Stopping() && connection.WaitForRequest(idle); --left) {
        connection.BeginRequest();
        bool clientCloses = false;
        const AnsweringOn answering(connection);
        answered = process_request(connection, left == 1, clientCloses,
                                   [&connection](httplib::Request&) { connection.BeginBody(); });
        if (!answered || clientCloses || connection.closing()) {
            break;
        }
    }
    if (connection.closing()) {
        connection.Linger();
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return answered;
}
