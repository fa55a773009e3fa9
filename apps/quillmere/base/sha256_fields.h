// SHA-256 (libavutil's) over a list of named fields: what identifies a
// stream, a file or a job, hashed so that no two different lists of fields
// give the same bytes. Fields go in by name, each once and in a fixed order
// chosen by the caller; a field's name and value are both hashed with their
// lengths.
#pragma once

#include <cstdint>
#include <string>

struct AVHashContext;

class Sha256Fields {
public:
    Sha256Fields();
    ~Sha256Fields();
    Sha256Fields(const Sha256Fields&) = delete;
    Sha256Fields& operator=(const Sha256Fields&) = delete;

    void Add(const std::string& name, const std::string& value);
    void Add(const std::string& name, std::int64_t value);
    void AddBytes(const std::string& name, const void* bytes, std::size_t size);

    // The digest as 64 lower-case hex digits; adds nothing after it.
    std::string Finish();

private:
    void Update(const void* bytes, std::size_t size);

    AVHashContext* context_ = nullptr;
    std::string result_;
};
