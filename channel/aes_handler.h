#pragma once

#include "channel/aes_cipher.h"
#include "channel/key.h"
#include "channel/message_handler.h"

#include <boost/noncopyable.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::sys {

// Base64 text to bytes, cut down to whole 16-byte blocks; empty on any
// decoding error.
std::vector<std::uint8_t> base64DecodeBlocks(const std::string& text);
// Bytes to Base64 text (with '=' fill); empty if the encoding fails.
std::string base64Encode(const std::uint8_t* bytes, std::size_t length);

// Turns each Base64 AES-128-CBC payload from the manager back into its plain
// text and hands that to `next`, once per payload. The first plain block is
// the sender's and is dropped; fill bytes at the end are passed on as they are.
// An undecodable or too short payload is passed on as an empty text.
// Used by one thread at a time: the chaining value carries over between messages.
class AesHandler : public MessageHandler, boost::noncopyable {
public:
    // `next` is not owned and must outlive the handler. `key` may go away
    // right after construction.
    AesHandler(MessageHandler* next, const encryption::Key<16>& key);

    void handleMessage(const std::string& payload) override;

private:
    MessageHandler* next;
    encryption::Block<16> iv;
    encryption::AesCipher cipher;
};

} // namespace qv::sys
