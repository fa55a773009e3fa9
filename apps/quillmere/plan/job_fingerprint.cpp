#include "apps/quillmere/plan/job_fingerprint.h"

#include <cstdlib>

namespace {

constexpr std::size_t kSeedDigits = 8;

}  // namespace

std::uint32_t SeedFromFingerprint(const std::string& fingerprint) {
    const std::string digits = fingerprint.substr(0, kSeedDigits);
    return static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
}
