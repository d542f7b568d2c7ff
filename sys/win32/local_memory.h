#pragma once

// The owner of memory the system allocated for the caller with LocalAlloc:
// SIDs, security descriptors and their text forms.

#include "sys/win32/unique_handle.h"

namespace qv::sys::win32 {

struct LocalCloser {
    void operator()(HLOCAL memory) const noexcept { LocalFree(memory); }
};

using UniqueLocal = UniqueWin32<HLOCAL, LocalCloser>;

} // namespace qv::sys::win32
