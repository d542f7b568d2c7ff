#pragma once

// Enciphered log lines. Every line leaves an output as the Base64 text of
//   AES-128-CBC(32 hex digits of the chaining value + line + blanks to 16),
// without its first cipher block, under the log key of the key store. A
// reader deciphers a line with any chaining value, drops the first 16 plain
// bytes (the rest of the hex prefix) and the trailing blanks.
//
// Fixed texts of the program may stand in a line as tokens: "@@" + Base64 of
// AES-128-CBC(a 16-byte leading block + text + N fill bytes of value N) + "@@".
// Outputs replace them with their text before the line is enciphered.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/noncopyable.hpp>

#include "channel/aes_cipher.h"
#include "channel/key.h"

namespace qv::sys::Logger {

// The log key from the key store. The store of this program always holds it;
// should its entry fail the check, lines are still enciphered with what it gave.
encryption::Key<16> logKey();

// Makes text of a record safe as one field of a line: trailing line breaks are
// dropped; the backslash, the tab (which separates fields), line breaks and
// other control characters become escapes: "\\", "\t", "\n", "\r", "\xHH".
// Text from outside the program (a pipe message in a record) can therefore
// neither start a line of its own nor pass for another field, and an escape
// in the log always stands for the character it names.
std::string escapeField(std::string text);

// The enciphering state of one output. The chaining value runs on from line
// to line and through every token, so lines of one output must pass through
// it in the order in which they are written. Not thread-safe.
class LogLineCipher : private boost::noncopyable {
public:
    LogLineCipher();
    explicit LogLineCipher(const encryption::Key<16>& key);

    // Replaces each well-formed token of `line` by its text. A "@@" that does
    // not open a well-formed token is text and stays as it is: records carry
    // outside text, which must not lose pieces or hide them from the log.
    std::string decipherTokens(std::string line);

    // The Base64 line for `line` (which should be a single line); empty if the
    // encoding fails.
    std::string encipher(const std::string& line);

    const encryption::Block<16>& chainingBlock() const { return chaining_; }

private:
    std::optional<std::string> decipherToken(const char* body, std::size_t length);

    encryption::AesCipher encrypt_;
    encryption::AesCipher decrypt_;
    encryption::Block<16> chaining_;
    // The plain bytes of the line being enciphered, kept for their capacity.
    std::vector<std::uint8_t> plain_;
};

// The token of `text` under `key` ("@@...@@"), as the program's fixed texts
// are made; its leading block is random.
std::string encipherToken(const encryption::Key<16>& key, const std::string& text);

// Deciphers the lines of a log. Each line is independent of the others.
class LogLineDecoder : private boost::noncopyable {
public:
    LogLineDecoder();
    explicit LogLineDecoder(const encryption::Key<16>& key);

    // The plain text of one enciphered line (a trailing '\r' is ignored), as
    // the program wrote it; control characters other than the tab, which the
    // program never writes, are shown as escapes. Nothing when the line is not
    // a log line of this key; `reason` then says why.
    std::optional<std::string> decipher(const std::string& line, std::string& reason) const;

private:
    encryption::AesCipher decrypt_;
};

} // namespace qv::sys::Logger
