#pragma once

// Access lists of kernel objects: one entry granted or denied to an account.

#include <cstdint>
#include <string>

#include <boost/noncopyable.hpp>

#include "sys/logger/logger.h"

namespace qv::sys {

// Who an access entry is about: yields a security identifier (a PSID).
class ITrustee {
public:
    virtual ~ITrustee() = default;
    virtual void* sid() const = 0;
};

// A trustee from a SID string ("S-1-5-32-545") or an SDDL account alias
// ("WD", "BU", "SY"). Throws SystemError (code 10) for an unknown text.
class StringSidTrustee : public ITrustee, private boost::noncopyable {
public:
    explicit StringSidTrustee(const std::string& sidText);
    ~StringSidTrustee() override;
    void* sid() const override { return sid_; }

private:
    void* sid_; // owned, LocalFree
};

// Rights codes of setAccess.
constexpr std::uint32_t kAccessRead = 1;
constexpr std::uint32_t kAccessWrite = 2;
constexpr std::uint32_t kAccessExecute = 4;
constexpr std::uint32_t kAccessAll = 7;

class ISecurableObject {
public:
    virtual ~ISecurableObject() = default;
    // Merges one entry (granting when `allow`, denying otherwise) into the
    // object's access list. Never throws; false when the list was not written.
    virtual bool setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) = 0;
};

// The generic access mask of a rights code; 0 for a code without one.
std::uint32_t accessMaskOf(std::uint32_t rights);

// setAccess for a kernel object handle. Failures are logged at level 2 and
// leave the cause in the thread's last error.
class WinSecurableObject : public virtual Logger::Logged, public virtual ISecurableObject {
public:
    bool setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) override;

protected:
    // objectType: an SE_OBJECT_TYPE; 6 (kernel object) for events.
    explicit WinSecurableObject(std::uint32_t objectType) : objectType_(objectType) {}
    virtual void* securedHandle() const = 0;

private:
    void logAccessList(const char* when) const;
    std::uint32_t objectType_;
};

} // namespace qv::sys
