// quillmere edit's server under hostile requests, sent over loopback to a
// running `quillmere edit`: bodies too deep or too large however they come,
// heads too large, clients too slow, a second server on its port. Each is
// refused in one line or cut off, and the page still answers.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

// Only keeps a broken server from hanging the tests.
constexpr auto kHangGuard = std::chrono::seconds(60);
// The 200 MiB body made the server grow by 500 MB when it was read whole.
constexpr long kMemoryGrowthKiB = 64 * 1024;

bool Readable(int fd, Clock::time_point deadline) {
    pollfd entry{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            Clock::now());
    return poll(&entry, 1, static_cast<int>(std::max<long long>(left.count(), 0))) > 0;
}

// What `fd` gives until its end (or `stop` is found in it).
std::string ReadAll(int fd, const std::string& stop = "") {
    std::string text;
    char buffer[65536];
    const auto deadline = Clock::now() + kHangGuard;
    ssize_t got = 0;
    while ((stop.empty() || text.find(stop) == std::string::npos) && Readable(fd, deadline) &&
           (got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// The statuses of the answers in `text`, in turn, and the last one's body.
std::vector<int> Statuses(const std::string& text, std::string* lastBody = nullptr) {
    std::vector<int> statuses;
    const std::regex status("HTTP/1\\.1 (\\d{3}) [^\\r]*\\r\\n");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), status);
         it != std::sregex_iterator(); ++it) {
        statuses.push_back(std::stoi((*it)[1]));
        if (lastBody != nullptr) {
            const std::size_t head = text.find("\r\n\r\n", it->position());
            *lastBody = head == std::string::npos ? "" : text.substr(head + 4);
        }
    }
    return statuses;
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// Sends `request` to the server at `port` (stopping early should the server
// answer or close first: it need not read it all) and returns what comes back.
std::string Exchange(int port, const std::string& request) {
    const int fd = Connect(port);
    for (std::size_t sent = 0; sent < request.size() && !Readable(fd, Clock::now());) {
        const ssize_t count = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(count);
    }
    const std::string answer = ReadAll(fd);
    close(fd);
    return answer;
}

pid_t Spawn(std::vector<std::string> words, int output, const std::string& errors) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    words.insert(words.begin(), QUILLMERE_PROGRAM);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    posix_spawn(&child, QUILLMERE_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// The exit status of `child`, killed if it has not ended by the hang guard.
int ExitOf(pid_t child) {
    const auto deadline = Clock::now() + kHangGuard;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// `quillmere edit` on the test clips, stopped through the page's Quit.
class EditProcess {
public:
    EditProcess() {
        int output[2];
        if (pipe2(output, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = Spawn({"edit", Clip("main.mkv"), "--overlay", Clip("overlay.avi")}, output[1],
                     "/dev/null");
        close(output[1]);
        const std::string line = ReadAll(output[0], "\n");
        close(output[0]);
        std::smatch address;
        if (std::regex_search(line, address, std::regex(":(\\d+)/#token=([0-9a-f]+)"))) {
            port_ = std::stoi(address[1]);
            token_ = address[2];
        }
    }
    ~EditProcess() {
        Exchange(port_, Post("/api/quit", "{}"));
        ExitOf(pid_);
    }

    bool running() const { return port_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    int port() const { return port_; }
    // A request's line and headers as the page sends them, up to the blank
    // line. Unless kept, the connection ends with the answer.
    std::string Head(const std::string& method, const std::string& path, bool keep = false) const {
        const std::string own = "127.0.0.1:" + std::to_string(port_);
        return method + " " + path + " HTTP/1.1\r\nHost: " + own + "\r\nX-Quillmere-Token: " +
               token_ + (method == "POST" ? "\r\nOrigin: http://" + own +
                                                "\r\nContent-Type: application/json"
                                          : "") +
               (keep ? "\r\n" : "\r\nConnection: close\r\n");
    }
    std::string Post(const std::string& path, const std::string& body, bool keep = false) const {
        return Head("POST", path, keep) + "Content-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }
    bool PageAnswers() const {
        return Statuses(Exchange(port_, Head("GET", "/api/session") + "\r\n")) ==
               std::vector<int>{200};
    }
    long PeakKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("VmHWM:", 0) != 0) {
        }
        return line.empty() ? 0 : std::stol(line.substr(6));
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string token_;
};

std::string DeepJson(std::size_t depth) {
    return "{\"x\": " + std::string(depth, '[') + std::string(depth, ']') + "}";
}

std::string Chunked(const std::string& body) {
    constexpr std::size_t chunk = 16 * 1024;
    std::string chunks;
    for (std::size_t at = 0; at < body.size(); at += chunk) {
        const std::string data = body.substr(at, chunk);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", data.size());
        chunks += size + data + "\r\n";
    }
    return chunks + "0\r\n\r\n";
}

std::string ChunkedPost(const EditProcess& server, const std::string& path,
                        const std::string& body) {
    return server.Head("POST", path) + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(body);
}

struct HostileCase {
    const char* name;
    std::string (*request)(const EditProcess& server);
    int status;
    const char* reasonPart;
};
void PrintTo(const HostileCase& test, std::ostream* out) { *out << test.name; }

const HostileCase kHostileCases[] = {
    // 200 KB, 60 KB and 20 KB nested 100,000, 30,000 and 10,000 deep.
    {"ChunkedDeepSettings",
     [](const EditProcess& s) { return ChunkedPost(s, "/api/settings", DeepJson(100000)); }, 413,
     "request body over"},
    {"ChunkedDeepMask",
     [](const EditProcess& s) { return ChunkedPost(s, "/api/mask", DeepJson(100000)); }, 413,
     "request body over"},
    {"ChunkedDeepWithinTheSizeLimit",
     [](const EditProcess& s) { return ChunkedPost(s, "/api/settings", DeepJson(30000)); }, 400,
     "JSON nested deeper than"},
    {"DeepWithLength",
     [](const EditProcess& s) { return s.Post("/api/settings", DeepJson(10000)); }, 400,
     "JSON nested deeper than"},
    // 200 MiB of blanks in chunks of 1 MiB (100000 in hex), then {}.
    {"ChunkedHugeBody",
     [](const EditProcess& s) {
         std::string request =
             s.Head("POST", "/api/settings") + "Transfer-Encoding: chunked\r\n\r\n";
         const std::string blanks = "100000\r\n" + std::string(1 << 20, ' ') + "\r\n";
         for (int chunk = 0; chunk < 200; ++chunk) {
             request += blanks;
         }
         return request + Chunked("{}");
     },
     413, "request body over"},
    {"ThousandsOfLongHeaders",
     [](const EditProcess& s) {
         std::string request = s.Head("GET", "/api/session");
         for (int index = 0; index < 20000; ++index) {
             request += "X-" + std::to_string(index) + ": " + std::string(1000, 'a') + "\r\n";
         }
         return request + "\r\n";
     },
     431, "request headers over"},
};

class EditServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TestClips();
        server_ = new EditProcess();
    }
    static void TearDownTestSuite() { delete server_; }
    static EditProcess* server_;
};
EditProcess* EditServerTest::server_ = nullptr;

class HostileRequest : public EditServerTest,
                       public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileRequest, IsRefusedInOneLineAndThePageStillAnswers) {
    const HostileCase& c = GetParam();
    ASSERT_TRUE(server_->running());
    const long peakBefore = server_->PeakKiB();
    std::string reason;
    EXPECT_EQ(Statuses(Exchange(server_->port(), c.request(*server_)), &reason),
              std::vector<int>{c.status});
    EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
    EXPECT_EQ(std::count(reason.begin(), reason.end(), '\n'), 1) << reason;
    ASSERT_TRUE(server_->running()) << "the server died";
    EXPECT_LT(server_->PeakKiB() - peakBefore, kMemoryGrowthKiB);
    EXPECT_TRUE(server_->PageAnswers());
}

INSTANTIATE_TEST_SUITE_P(Requests, HostileRequest, ::testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EditServerTest, RequestsOnOneConnectionAreAnsweredInTurnUntilOneIsRefused) {
    const std::string read = server_->Head("GET", "/api/readouts?mask=1,1,9,9", true) + "\r\n";
    // Without the token: its body is never read, and must not be taken for
    // the request after it.
    const std::string refused = std::regex_replace(
        server_->Post("/api/settings", read, true), std::regex("X-Quillmere-Token: \\w+\r\n"), "");
    EXPECT_EQ(Statuses(Exchange(server_->port(),
                                read + server_->Post("/api/settings", "{\"opacity\": 50}", true) +
                                    refused + read)),
              (std::vector<int>{200, 200, 403}));
}

TEST_F(EditServerTest, SlowClientsAreCutOffWhileThePageGoesOnAnswering) {
    constexpr int kSlowClients = 8;
    constexpr int kPageRequests = 7;
    const std::string request = server_->Head("GET", "/api/session") + "\r\n";
    std::atomic<int> cutOff{0};
    std::vector<std::thread> slow;
    for (int client = 0; client < kSlowClients; ++client) {
        slow.emplace_back([&] {
            // A byte a second, until the server answers or ends the connection.
            const int fd = Connect(server_->port());
            for (const char byte : request) {
                if (Readable(fd, Clock::now() + std::chrono::seconds(1)) ||
                    send(fd, &byte, 1, MSG_NOSIGNAL) != 1) {
                    ++cutOff;
                    break;
                }
            }
            close(fd);
        });
    }
    int answered = 0;
    for (int ask = 0; ask < kPageRequests; ++ask) {
        answered += server_->PageAnswers() ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (std::thread& thread : slow) {
        thread.join();
    }
    EXPECT_EQ(answered, kPageRequests);
    EXPECT_EQ(cutOff, kSlowClients);
}

TEST_F(EditServerTest, ASecondEditOnAHeldPortIsRefusedInOneLine) {
    const ScratchFolder folder;
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const std::string port = std::to_string(server_->port());
    const pid_t second = Spawn({"edit", Clip("main.mkv"), "--port", port}, null,
                               folder / "errors.txt");
    close(null);
    // Sharing the port, it would serve until killed.
    EXPECT_EQ(ExitOf(second), 1);
    std::ifstream file(folder / "errors.txt");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("cannot listen on 127.0.0.1 port " + port), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_TRUE(server_->PageAnswers());
}

}  // namespace
