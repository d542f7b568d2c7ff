#include "tools/dump_reader/bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qv::dump {

std::string hex(std::uint64_t value) {
    char text[19];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

void Bytes::need(std::uint64_t offset, std::uint64_t size, const char* what) const {
    if (!contains(offset, size)) {
        fail(std::string(what) + " (" + std::to_string(size) + " bytes at offset " + hex(offset) +
             ") runs past the end of the file (" + std::to_string(data_.size()) + " bytes)");
    }
}

void Bytes::fail(const std::string& message) const {
    throw InputError(status_, name_ + ": " + message);
}

std::string readWholeFile(const std::string& path, Status status) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw InputError(status, path + ": cannot open: " + std::strerror(errno));
    }
    std::string bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    } catch (const std::ios_base::failure&) { // a directory, for one
        file.setstate(std::ios::badbit);
    }
    if (file.bad()) {
        throw InputError(status, path + ": cannot read: " + std::strerror(errno));
    }
    return bytes;
}

} // namespace qv::dump
