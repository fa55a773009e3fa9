#include "apps/quillmere/edit/session_token.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "apps/quillmere/runner_error.h"

namespace {

constexpr std::size_t kTokenBytes = 16;

}  // namespace

std::string NewSessionToken() {
    std::uint8_t bytes[kTokenBytes];
    std::size_t filled = 0;
    while (filled < kTokenBytes) {
        const ssize_t got = getrandom(bytes + filled, kTokenBytes - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw RunnerError(std::string("cannot draw a session token: ") +
                              std::strerror(errno));
        }
        filled += static_cast<std::size_t>(got);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string token;
    for (const std::uint8_t byte : bytes) {
        token += kDigits[byte >> 4];
        token += kDigits[byte & 0x0F];
    }
    return token;
}

bool TokensMatch(const std::string& given, const std::string& expected) {
    if (given.size() != expected.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t index = 0; index < expected.size(); ++index) {
        difference |= static_cast<unsigned char>(given[index] ^ expected[index]);
    }
    return difference == 0;
}
