#include "sys/concurrency/securable_object.h"

#include <windows.h>

#include <accctrl.h>
#include <aclapi.h>
#include <sddl.h>

#include "sys/errors/exception.h"

namespace qv::sys {

StringSidTrustee::StringSidTrustee(const std::string& sidText) : sid_(nullptr) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(sidText.c_str(), &sid)) {
        throw SystemError(10, SystemErrorCode(GetLastError()));
    }
    sid_ = sid;
}

StringSidTrustee::~StringSidTrustee() {
    LocalFree(sid_);
}

std::uint32_t accessMaskOf(std::uint32_t rights) {
    switch (rights) {
    case kAccessRead:
        return 0x120089;
    case kAccessWrite:
        return 0x120116;
    case kAccessExecute:
        return 0x1200A0;
    case kAccessAll:
        return 0x1F01FF;
    default:
        return 0;
    }
}

void WinSecurableObject::logAccessList(const char* when) const {
    if (!isLogging(6)) {
        return;
    }
    const DWORD savedError = GetLastError();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    if (GetSecurityInfo(securedHandle(), static_cast<SE_OBJECT_TYPE>(objectType_), DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr)) {
        try {
            QV_LOG(6) << "Access list " << when << ": " << narrowText(text);
        } catch (...) {
            // A broken log output costs the line, not the change.
        }
    }
    LocalFree(text);
    LocalFree(descriptor);
    SetLastError(savedError);
}

bool WinSecurableObject::setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) {
    logAccessList("before");
    PACL oldList = nullptr;
    PACL newList = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const auto type = static_cast<SE_OBJECT_TYPE>(objectType_);
    DWORD result = GetSecurityInfo(securedHandle(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &oldList, nullptr, &descriptor);
    if (result == ERROR_SUCCESS) {
        EXPLICIT_ACCESS_A entry = {};
        entry.grfAccessPermissions = accessMaskOf(rights);
        entry.grfAccessMode = allow ? GRANT_ACCESS : DENY_ACCESS;
        entry.grfInheritance = NO_INHERITANCE;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
        entry.Trustee.ptstrName = static_cast<LPSTR>(trustee.sid());
        result = SetEntriesInAclA(1, &entry, oldList, &newList);
    }
    if (result == ERROR_SUCCESS) {
        result = SetSecurityInfo(securedHandle(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, newList,
                                 nullptr);
    }
    LocalFree(newList);
    LocalFree(descriptor); // oldList points into it
    if (result != ERROR_SUCCESS) {
        try {
            QV_LOG(2) << "Cannot change the access list: " << narrowText(systemErrorText(result));
        } catch (...) {
            // As above: setAccess reports by its result only.
        }
        SetLastError(result);
        return false;
    }
    logAccessList("after");
    return true;
}

} // namespace qv::sys
