#include "sys/win32/account.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "sys/win32/local_memory.h"

namespace qv::sys::win32 {

namespace {

Sid copied(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) {
        return Sid();
    }
    const auto* bytes = static_cast<const std::uint8_t*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

} // namespace

Sid sidFromText(const std::string& text) {
    UniqueLocal sid;
    if (!ConvertStringSidToSidA(text.c_str(), sid.put())) {
        return Sid();
    }
    return copied(sid.get());
}

std::string sidText(const Sid& sid) {
    char* text = nullptr;
    if (sid.empty() || !ConvertSidToStringSidA(const_cast<std::uint8_t*>(sid.data()), &text)) {
        return "unknown";
    }
    const UniqueLocal owned(text);
    return text;
}

Sid tokenUser(void* token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return Sid();
    }
    std::vector<std::uint8_t> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return Sid();
    }
    return copied(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

Sid processAccount() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return Sid();
    }
    return tokenUser(token.get());
}

Sid fileOwner(void* file) {
    PSID owner = nullptr; // points into the descriptor
    UniqueLocal descriptor;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS) {
        return Sid();
    }
    return copied(owner);
}

bool isTrustedOwner(const Sid& owner, const Sid& self) {
    if (owner.empty()) {
        return false;
    }
    static const Sid system = sidFromText("S-1-5-18");
    static const Sid administrators = sidFromText("S-1-5-32-544");
    return owner == system || owner == administrators || owner == self;
}

} // namespace qv::sys::win32
