#pragma once

#include <string>

namespace qv::telemetry {

// The drive and directory of the program's own executable followed by
// `fileName`; the module path itself when `fileName` is empty. Throws
// qv::sys::SystemError (code 1) when the module path cannot be read, or with
// the system code 206 when the result would pass 260 characters.
std::wstring modulePath(const std::wstring& fileName);

// The joining step of modulePath for a given module path.
std::wstring joinModulePath(const std::wstring& module, const std::wstring& fileName);

} // namespace qv::telemetry
