#pragma once

// Bad input of the dump reader, and checked little-endian reads of a file's bytes.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::dump {

// The reader's exit statuses (main prints the message as one line).
enum Status { kUsage = 2, kBadDump = 3, kBadDebugFile = 4 };

class InputError : public std::runtime_error {
public:
    InputError(Status status, const std::string& message) : std::runtime_error(message), status(status) {}
    Status status;
};

std::string hex(std::uint64_t value);

// A file's bytes; a read past the end throws an InputError naming the file
// and what was being read.
class Bytes {
public:
    Bytes(std::string_view data, std::string name, Status status)
        : data_(data), name_(std::move(name)), status_(status) {}

    bool contains(std::uint64_t offset, std::uint64_t size) const {
        return offset <= data_.size() && size <= data_.size() - offset;
    }
    // Throws unless [offset, offset + size) lies in the file.
    void need(std::uint64_t offset, std::uint64_t size, const char* what) const;
    [[noreturn]] void fail(const std::string& message) const;

    template <typename T>
    T get(std::uint64_t offset, const char* what) const {
        need(offset, sizeof(T), what);
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            value |= std::uint64_t(static_cast<unsigned char>(data_[offset + i])) << (8 * i);
        }
        return static_cast<T>(value);
    }
    std::string_view slice(std::uint64_t offset, std::uint64_t size, const char* what) const {
        need(offset, size, what);
        return data_.substr(offset, size);
    }
    std::size_t size() const { return data_.size(); }

private:
    std::string_view data_;
    std::string name_;
    Status status_;
};

// The whole file, or an InputError with `status`.
std::string readWholeFile(const std::string& path, Status status);

} // namespace qv::dump
