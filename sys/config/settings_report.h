#pragma once

// Records about stored settings that cannot be used as they stand. Internal
// to the configuration library.

#include <string>

namespace qv::sys::option::detail {

// One WARN record of the "Option" or the "RegistryDataStore" module. The
// logger reads settings while it starts, so a record asked for while another
// is being written on the same thread is dropped instead of starting the
// logger again; a failing log output costs the record, never the setting.
void reportOption(const std::string& text);
void reportStore(const std::string& text);

// "machine settings" or "user settings".
const char* sourceText(unsigned source);

} // namespace qv::sys::option::detail
