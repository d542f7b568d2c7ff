#include "sys/win32/account.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "sys/win32/unique_handle.h"

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
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(text.c_str(), &sid)) {
        return Sid();
    }
    Sid result = copied(sid);
    LocalFree(sid);
    return result;
}

std::string sidText(const Sid& sid) {
    char* text = nullptr;
    if (sid.empty() || !ConvertSidToStringSidA(const_cast<std::uint8_t*>(sid.data()), &text)) {
        return "unknown";
    }
    std::string result(text);
    LocalFree(text);
    return result;
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
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return Sid();
    }
    Sid result = copied(owner);
    LocalFree(descriptor);
    return result;
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
