// The fingerprint of a segmented job: a SHA-256 (libavutil's) over the
// identity of the main video, that of the overlay and every setting that
// shapes the output. Every segment carries it, so that `join` can refuse
// segments of different jobs, and a random shadow style without --seed
// takes its seed from it, so that every segment of a job draws alike.
//
// Fields go in by name, each once and in a fixed order chosen by the
// caller; a field's name and value are both hashed with their lengths, so
// no two different lists of fields give the same bytes.
#pragma once

#include <cstdint>
#include <string>

struct AVHashContext;

class JobFingerprint {
public:
    JobFingerprint();
    ~JobFingerprint();
    JobFingerprint(const JobFingerprint&) = delete;
    JobFingerprint& operator=(const JobFingerprint&) = delete;

    void Add(const std::string& name, const std::string& value);
    void Add(const std::string& name, std::int64_t value);
    void AddBytes(const std::string& name, const void* bytes, std::size_t size);

    // The fingerprint as 64 lower-case hex digits; adds nothing after it.
    std::string Finish();

private:
    void Update(const void* bytes, std::size_t size);

    AVHashContext* context_ = nullptr;
    std::string result_;
};

// The seed a random shadow style takes from a fingerprint: its first eight
// hex digits as a number.
std::uint32_t SeedFromFingerprint(const std::string& fingerprint);
