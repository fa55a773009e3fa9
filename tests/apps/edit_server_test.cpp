// quillmere edit's server under hostile requests, sent over loopback to a
// running `quillmere edit`: bodies too deep or too large however they come,
// heads too large, clients too slow. Each is refused with one line of reason
// or cut off, the server's memory stays bounded, and the page still answers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bounds that only keep a broken server from hanging the tests.
constexpr auto kHangGuard = std::chrono::seconds(60);
// What the server may grow by while refusing a request: the 200 MiB body
// made it grow by 500 MB when it was read whole.
constexpr long kMemoryGrowthKiB = 64 * 1024;
constexpr std::size_t kChunkBytes = 16 * 1024;
constexpr std::size_t kMiB = 1024 * 1024;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            Clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Whether `fd` has `events` before `deadline`.
bool Await(int fd, short events, Clock::time_point deadline) {
    pollfd entry{fd, events, 0};
    return poll(&entry, 1, MillisecondsLeft(deadline)) > 0;
}

// Text read from `fd` until `done` says it is complete, the peer closes or
// `deadline` passes.
std::string ReadUntil(int fd, Clock::time_point deadline,
                      const std::function<bool(const std::string&)>& done) {
    std::string text;
    char buffer[65536];
    while (!done(text) && Await(fd, POLLIN, deadline)) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

struct Answer {
    int status = 0;  // 0: none came
    std::string body;
};

// One answer: its status line, headers and Content-Length body.
Answer ReadAnswer(int fd) {
    const auto complete = [](const std::string& text) {
        const std::size_t headEnd = text.find("\r\n\r\n");
        if (headEnd == std::string::npos) {
            return false;
        }
        std::smatch length;
        const std::string head = text.substr(0, headEnd);
        return std::regex_search(head, length, std::regex("Content-Length: (\\d+)")) &&
               text.size() >= headEnd + 4 + std::stoul(length[1]);
    };
    const std::string text = ReadUntil(fd, Clock::now() + kHangGuard, complete);
    Answer answer;
    std::smatch status;
    if (std::regex_search(text, status, std::regex("^HTTP/1\\.1 (\\d{3}) "))) {
        answer.status = std::stoi(status[1]);
    }
    const std::size_t headEnd = text.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
        answer.body = text.substr(headEnd + 4);
    }
    return answer;
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends piece after piece of a request until all are sent, the server
// answers (it need not read the rest) or closes.
void SendUntilAnswered(int fd, std::size_t pieces,
                       const std::function<std::string(std::size_t)>& piece) {
    const auto deadline = Clock::now() + kHangGuard;
    for (std::size_t index = 0; index < pieces; ++index) {
        const std::string bytes = piece(index);
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            pollfd entry{fd, POLLIN | POLLOUT, 0};
            if (poll(&entry, 1, MillisecondsLeft(deadline)) <= 0 || (entry.revents & POLLIN)) {
                return;
            }
            const ssize_t count = send(fd, bytes.data() + sent, bytes.size() - sent,
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return;
            }
            sent += count > 0 ? static_cast<std::size_t>(count) : 0;
        }
    }
}

// `quillmere edit` on the test clips, stopped through the page's Quit.
class EditProcess {
public:
    EditProcess() {
        int output[2];
        if (pipe(output) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> words = {QUILLMERE_PROGRAM, "edit", Clip("main.mkv"),
                                          "--overlay", Clip("overlay.avi")};
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, QUILLMERE_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        // The first line is the page's address, with the port and the token.
        const std::string line =
            ReadUntil(output[0], Clock::now() + kHangGuard, [](const std::string& text) {
                return text.find('\n') != std::string::npos;
            });
        close(output[0]);
        std::smatch address;
        if (std::regex_search(line, address,
                              std::regex("http://127\\.0\\.0\\.1:(\\d+)/#token=([0-9a-f]+)"))) {
            port_ = std::stoi(address[1]);
            token_ = address[2];
        }
    }
    ~EditProcess() {
        if (pid_ <= 0) {
            return;
        }
        const int fd = Connect(port_);
        if (fd >= 0) {
            SendUntilAnswered(fd, 1, [this](std::size_t) { return Post("/api/quit", "{}"); });
            ReadAnswer(fd);
            close(fd);
        }
        const auto deadline = Clock::now() + kHangGuard;
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EditProcess(const EditProcess&) = delete;
    EditProcess& operator=(const EditProcess&) = delete;

    bool running() const { return port_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    int port() const { return port_; }

    // A request's line and headers as the page sends them, without the
    // blank line that ends them.
    std::string Head(const std::string& method, const std::string& path) const {
        std::string head = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                           std::to_string(port_) + "\r\nX-Quillmere-Token: " + token_ + "\r\n";
        if (method == "POST") {
            head += "Origin: http://127.0.0.1:" + std::to_string(port_) +
                    "\r\nContent-Type: application/json\r\n";
        }
        return head;
    }
    std::string Post(const std::string& path, const std::string& body) const {
        return Head("POST", path) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body;
    }
    // The answer to `request`, sent alone on a new connection.
    Answer Ask(const std::string& request) const {
        const int fd = Connect(port_);
        SendUntilAnswered(fd, 1, [&request](std::size_t) { return request; });
        const Answer answer = ReadAnswer(fd);
        close(fd);
        return answer;
    }
    bool PageAnswers() const {
        return Ask(Head("GET", "/api/session") + "\r\n").status == 200;
    }
    // The largest resident set the server has had.
    long PeakKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmHWM:", 0) == 0) {
                return std::stol(line.substr(6));
            }
        }
        return 0;
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string token_;
};

// `{"x": [[[...]]]}` nested `depth` arrays deep.
std::string DeepJson(std::size_t depth) {
    return "{\"x\": " + std::string(depth, '[') + std::string(depth, ']') + "}";
}

std::string Chunk(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

std::string Chunked(const std::string& body) {
    std::string chunks;
    for (std::size_t at = 0; at < body.size(); at += kChunkBytes) {
        chunks += Chunk(body.substr(at, kChunkBytes));
    }
    return chunks + "0\r\n\r\n";
}

struct HostileCase {
    const char* name;
    // Piece `index` of the request's `pieces`.
    std::string (*piece)(const EditProcess& server, std::size_t index);
    std::size_t pieces;
    int status;
    const char* reasonPart;
};
void PrintTo(const HostileCase& test, std::ostream* out) { *out << test.name; }

std::string ChunkedPost(const EditProcess& server, const std::string& path,
                        const std::string& body) {
    return server.Head("POST", path) + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(body);
}

const HostileCase kHostileCases[] = {
    // 200 KB, over the body limit however it comes.
    {"ChunkedDeepSettings",
     [](const EditProcess& server, std::size_t) {
         return ChunkedPost(server, "/api/settings", DeepJson(100000));
     },
     1, 413, "request body over"},
    {"ChunkedDeepMask",
     [](const EditProcess& server, std::size_t) {
         return ChunkedPost(server, "/api/mask", DeepJson(100000));
     },
     1, 413, "request body over"},
    // 60 KB: within the body limit, too deep for JSON.
    {"ChunkedDeepWithinTheSizeLimit",
     [](const EditProcess& server, std::size_t) {
         return ChunkedPost(server, "/api/settings", DeepJson(30000));
     },
     1, 400, "JSON nested deeper than"},
    {"DeepWithLength",
     [](const EditProcess& server, std::size_t) {
         return server.Post("/api/settings", DeepJson(10000));
     },
     1, 400, "JSON nested deeper than"},
    // 200 MiB of blanks, then {}.
    {"ChunkedHugeBody",
     [](const EditProcess& server, std::size_t index) {
         if (index == 0) {
             return server.Head("POST", "/api/settings") + "Transfer-Encoding: chunked\r\n\r\n";
         }
         return index <= 200 ? Chunk(std::string(kMiB, ' ')) : Chunked("{}");
     },
     202, 413, "request body over"},
    {"BodyWithoutLength",
     [](const EditProcess& server, std::size_t) {
         return server.Head("POST", "/api/settings") + "\r\n{}";
     },
     1, 411, "Content-Length"},
    // 20,000 headers of 1 KB.
    {"ThousandsOfLongHeaders",
     [](const EditProcess& server, std::size_t index) {
         if (index == 0) {
             return server.Head("GET", "/api/session");
         }
         return index <= 20000 ? "X-Filler-" + std::to_string(index) + ": " +
                                     std::string(1000, 'a') + "\r\n"
                               : std::string("\r\n");
     },
     20002, 431, "request headers over"},
    {"ManyShortHeaders",
     [](const EditProcess& server, std::size_t) {
         std::string request = server.Head("GET", "/api/session");
         for (int index = 0; index < 150; ++index) {
             request += "X-" + std::to_string(index) + ": 1\r\n";
         }
         return request + "\r\n";
     },
     1, 431, "request headers"},
};

class EditServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TestClips();
        server_ = new EditProcess();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static const EditProcess& Server() { return *server_; }

private:
    static EditProcess* server_;
};
EditProcess* EditServerTest::server_ = nullptr;

class HostileRequest : public EditServerTest,
                       public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileRequest, IsRefusedInOneLineAndThePageStillAnswers) {
    const HostileCase& c = GetParam();
    const EditProcess& server = Server();
    ASSERT_TRUE(server.running());
    const long peakBefore = server.PeakKiB();
    const int fd = Connect(server.port());
    ASSERT_GE(fd, 0);
    SendUntilAnswered(fd, c.pieces, [&](std::size_t index) { return c.piece(server, index); });
    const Answer answer = ReadAnswer(fd);
    close(fd);
    EXPECT_EQ(answer.status, c.status) << answer.body;
    EXPECT_NE(answer.body.find(c.reasonPart), std::string::npos) << answer.body;
    EXPECT_EQ(std::count(answer.body.begin(), answer.body.end(), '\n'), 1) << answer.body;
    ASSERT_TRUE(server.running()) << "the server died";
    EXPECT_LT(server.PeakKiB() - peakBefore, kMemoryGrowthKiB);
    EXPECT_TRUE(server.PageAnswers());
}

INSTANTIATE_TEST_SUITE_P(Requests, HostileRequest, ::testing::ValuesIn(kHostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EditServerTest, RequestsOnOneConnectionAreAnsweredInTurnUntilOneIsRefused) {
    const EditProcess& server = Server();
    const std::string read = server.Head("GET", "/api/readouts?mask=1,1,9,9") + "\r\n";
    // A change without the token: its body is never read, and must not be
    // taken for the request after it.
    const std::string refused = "POST /api/settings HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(server.port()) +
                                "\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(read.size()) + "\r\n\r\n" + read;
    const int fd = Connect(server.port());
    ASSERT_GE(fd, 0);
    SendUntilAnswered(fd, 1, [&](std::size_t) {
        return read + server.Post("/api/settings", "{\"opacity\": 50}") + refused + read;
    });
    EXPECT_EQ(ReadAnswer(fd).status, 200);
    EXPECT_EQ(ReadAnswer(fd).status, 200);
    EXPECT_EQ(ReadAnswer(fd).status, 403);
    EXPECT_EQ(ReadAnswer(fd).status, 0) << "the connection ends after the refusal";
    close(fd);
}

TEST_F(EditServerTest, SlowClientsAreCutOffWhileThePageGoesOnAnswering) {
    constexpr int kSlowClients = 8;
    constexpr int kPageRequests = 7;
    const EditProcess& server = Server();
    const std::string request = server.Head("GET", "/api/session") + "\r\n";
    std::vector<int> slow;
    for (int client = 0; client < kSlowClients; ++client) {
        slow.push_back(Connect(server.port()));
        ASSERT_GE(slow.back(), 0);
    }
    // A byte a second on each, until the server closes it.
    std::atomic<int> open{kSlowClients};
    std::thread trickle([&] {
        const auto deadline = Clock::now() + kHangGuard;
        std::vector<bool> closed(slow.size(), false);
        for (std::size_t sent = 0; open > 0 && Clock::now() < deadline; ++sent) {
            for (std::size_t client = 0; client < slow.size(); ++client) {
                if (closed[client]) {
                    continue;
                }
                // An answer (408) or the end of the connection.
                char ignored;
                const bool ended = recv(slow[client], &ignored, 1, MSG_DONTWAIT) >= 0 ||
                                   (errno != EAGAIN && errno != EWOULDBLOCK);
                if (ended || (sent < request.size() &&
                              send(slow[client], &request[sent], 1, MSG_NOSIGNAL) != 1)) {
                    closed[client] = true;
                    --open;
                }
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    int answered = 0;
    for (int ask = 0; ask < kPageRequests; ++ask) {
        answered += server.PageAnswers() ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    trickle.join();
    for (const int fd : slow) {
        close(fd);
    }
    EXPECT_EQ(answered, kPageRequests);
    EXPECT_EQ(open, 0) << "slow clients still connected";
    EXPECT_TRUE(server.PageAnswers());
}

TEST_F(EditServerTest, ASecondEditOnAHeldPortIsRefusedInOneLine) {
    const EditProcess& server = Server();
    ScratchFolder folder;
    const std::string errors = folder / "errors.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> words = {QUILLMERE_PROGRAM, "edit", Clip("main.mkv"), "--port",
                                      std::to_string(server.port())};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t second = -1;
    ASSERT_EQ(posix_spawn(&second, QUILLMERE_PROGRAM, &actions, nullptr, argv.data(), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    // Sharing the port, it would serve until stopped.
    const auto deadline = Clock::now() + kHangGuard;
    int status = 0;
    while (waitpid(second, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(second, SIGKILL);
            waitpid(second, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "still serving, on a port another holds";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream file(errors);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("cannot listen on 127.0.0.1 port " + std::to_string(server.port())),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_TRUE(server.PageAnswers());
}

}  // namespace
