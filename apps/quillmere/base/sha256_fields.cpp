#include "apps/quillmere/base/sha256_fields.h"

#include "apps/quillmere/runner_error.h"

extern "C" {
#include <libavutil/hash.h>
}

namespace {

constexpr const char* kHashName = "SHA256";
constexpr int kHashBytes = 32;

}  // namespace

Sha256Fields::Sha256Fields() {
    if (av_hash_alloc(&context_, kHashName) < 0) {
        throw RunnerError(std::string("this FFmpeg has no ") + kHashName + " hash");
    }
    av_hash_init(context_);
}

Sha256Fields::~Sha256Fields() { av_hash_freep(&context_); }

void Sha256Fields::Update(const void* bytes, std::size_t size) {
    av_hash_update(context_, static_cast<const std::uint8_t*>(bytes), size);
}

void Sha256Fields::AddBytes(const std::string& name, const void* bytes, std::size_t size) {
    // Lengths first, in a fixed byte order, so that fields cannot run into
    // each other.
    for (const std::uint64_t length : {static_cast<std::uint64_t>(name.size()),
                                       static_cast<std::uint64_t>(size)}) {
        std::uint8_t encoded[8];
        for (int byte = 0; byte < 8; ++byte) {
            encoded[byte] = static_cast<std::uint8_t>(length >> (8 * byte));
        }
        Update(encoded, sizeof encoded);
    }
    Update(name.data(), name.size());
    Update(bytes, size);
}

void Sha256Fields::Add(const std::string& name, const std::string& value) {
    AddBytes(name, value.data(), value.size());
}

void Sha256Fields::Add(const std::string& name, std::int64_t value) {
    Add(name, std::to_string(value));
}

std::string Sha256Fields::Finish() {
    if (result_.empty()) {
        std::uint8_t hex[2 * kHashBytes + 1];
        av_hash_final_hex(context_, hex, sizeof hex);
        result_.assign(reinterpret_cast<const char*>(hex), 2 * kHashBytes);
    }
    return result_;
}
