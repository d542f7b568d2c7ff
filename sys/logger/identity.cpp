#include "sys/logger/identity.h"

#include <cstdint>

namespace qv::sys {

namespace {
std::string addressText(const void* address) {
    static const char kDigits[] = "0123456789ABCDEF";
    auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(address));
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

bool isIdentityChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
} // namespace

Identity::Identity(const std::string& name) : name_(sanitise(name)), instanceId_(addressText(this)) {}

Identity::~Identity() = default;

void Identity::setName(const std::string& name) {
    name_ = sanitise(name);
}

void Identity::setInstanceId(const std::string& instanceId) {
    instanceId_ = sanitise(instanceId);
}

std::string Identity::sanitise(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        if (!isIdentityChar(c)) {
            c = '_';
        }
    }
    return result;
}

} // namespace qv::sys
