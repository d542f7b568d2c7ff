#pragma once

#include "channel/key.h"

#include <string>

namespace qv::simulator {

// The manager's side of AesHandler: a random first block, the text, zero fill
// to whole blocks, AES-128-CBC from a zero chaining value, Base64.
std::string encipherMessage(const sys::encryption::Key<16>& key, const std::string& text);

} // namespace qv::simulator
