// Reading a fuzzer's bytes as typed values: each read takes what it needs
// from the front and gives zero once the bytes run out, so every input,
// however short, is a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename Value>
    Value Read() {
        static_assert(std::is_trivially_copyable<Value>::value, "plain values only");
        Value value{};
        const std::size_t count = size_ < sizeof value ? size_ : sizeof value;
        std::memcpy(&value, data_, count);
        data_ += count;
        size_ -= count;
        return value;
    }
    // A value in [low, high], from the next bytes.
    std::int64_t ReadBetween(std::int64_t low, std::int64_t high) {
        const auto span = static_cast<std::uint64_t>(high - low) + 1;
        const std::uint64_t raw = Read<std::uint32_t>();
        return low + static_cast<std::int64_t>(span == 0 ? raw : raw % span);
    }
    // Up to `count` bytes (fewer when the input runs out).
    std::string ReadBytes(std::size_t count) {
        const std::size_t taken = count < size_ ? count : size_;
        std::string bytes(reinterpret_cast<const char*>(data_), taken);
        data_ += taken;
        size_ -= taken;
        return bytes;
    }
    std::string Rest() { return ReadBytes(size_); }
    std::size_t remaining() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Stops the fuzzer with a message when a property fails: libFuzzer keeps the
// input that did it.
[[noreturn]] void FuzzFailure(const char* target, const std::string& what);
#define FUZZ_CHECK(condition, target, what) \
    do {                                     \
        if (!(condition)) FuzzFailure(target, what); \
    } while (false)
