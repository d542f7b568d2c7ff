#pragma once

// Accounts as the system's security checks see them: the account the process
// runs as, the user of a token, the owner of an open file. A privileged agent
// asks these before it takes a path or a folder that someone else may have
// chosen.

#include <cstdint>
#include <string>
#include <vector>

namespace qv::sys::win32 {

// A security identifier as its bytes; empty when it could not be found out.
using Sid = std::vector<std::uint8_t>;

// "S-1-5-18" and the like; empty for text that is no identifier.
Sid sidFromText(const std::string& text);
// The text form, or "unknown" for an empty identifier.
std::string sidText(const Sid& sid);

// The user of a token opened for query.
Sid tokenUser(void* token);
// The user of the process's own token, whoever the calling thread acts as.
Sid processAccount();
// The owner of a file or folder opened with READ_CONTROL.
Sid fileOwner(void* file);

// Owners that no ordinary user can be: SYSTEM, the administrators group, or
// `self` (the process's own account). Unknown owners are not trusted.
bool isTrustedOwner(const Sid& owner, const Sid& self);

} // namespace qv::sys::win32
