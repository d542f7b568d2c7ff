#include "sys/logger/log_cipher.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "channel/aes_handler.h"
#include "channel/key_store.h"
#include "channel/random_generator.h"

namespace qv::sys::Logger {

namespace {
constexpr std::size_t kBlock = 16;
constexpr char kHex[] = "0123456789ABCDEF";

bool isBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The number of bytes that `length` characters of strict Base64 stand for:
// whole quads, the alphabet only, at most two '=' at the end; nothing for
// other text. The library's decoder also skips line breaks and some blanks,
// which would let a stray "@@ ... @@" in outside text pass for a token.
std::optional<std::size_t> strictBase64Size(const char* text, std::size_t length) {
    if (length == 0 || length % 4 != 0) {
        return std::nullopt;
    }
    std::size_t data = length;
    while (data > 0 && length - data < 2 && text[data - 1] == '=') {
        --data;
    }
    for (std::size_t i = 0; i < data; ++i) {
        if (!isBase64Character(text[i])) {
            return std::nullopt;
        }
    }
    return length / 4 * 3 - (length - data);
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// A plain log line: decorated lines begin with
// the elapsed time and a tab, short lines with '['. Control characters other
// than tab, line breaks and zero bytes (the fill of a pipe message) come only
// from a wrong key or a damaged line.
bool looksLikeLogLine(const std::string& text) {
    if (text.empty() || text[0] != '[') {
        std::size_t i = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        static const char kRest[] = ":dd:dd.ddd\t";
        if (i < 2 || text.size() < i + sizeof kRest - 1) {
            return false;
        }
        for (std::size_t k = 0; k + 1 < sizeof kRest; ++k) {
            const char c = text[i + k];
            if (kRest[k] == 'd' ? (c < '0' || c > '9') : c != kRest[k]) {
                return false;
            }
        }
    }
    for (unsigned char c : text) {
        if (isControl(c) && c != '\t' && c != '\n' && c != '\r' && c != '\0') {
            return false;
        }
    }
    return true;
}
} // namespace

encryption::Key<16> logKey() {
    encryption::Key<16> key;
    std::uint32_t tag = 0;
    encryption::getKey(encryption::logKeyNumber, key.data(), key.size(), tag);
    return key;
}

namespace {
// `text` with each character for which `escaped` holds written as an escape.
template <typename Escaped>
std::string escapeCharacters(std::string text, Escaped escaped) {
    const auto first = std::find_if(text.begin(), text.end(), escaped);
    if (first == text.end()) {
        return text; // the usual record: nothing to escape, nothing to copy
    }
    std::string result(text.begin(), first);
    result.reserve(text.size() + 8);
    for (auto at = first; at != text.end(); ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (!escaped(c)) {
            result += static_cast<char>(c);
        } else if (c == '\\') {
            result += "\\\\";
        } else if (c == '\t') {
            result += "\\t";
        } else if (c == '\n') {
            result += "\\n";
        } else if (c == '\r') {
            result += "\\r";
        } else {
            result += "\\x";
            result += kHex[c >> 4];
            result += kHex[c & 0xF];
        }
    }
    return result;
}
} // namespace

std::string escapeField(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return escapeCharacters(std::move(text), [](unsigned char c) { return isControl(c) || c == '\\'; });
}

LogLineCipher::LogLineCipher() : LogLineCipher(logKey()) {}

LogLineCipher::LogLineCipher(const encryption::Key<16>& key) : encrypt_(key, false), decrypt_(key, true) {}

std::optional<std::string> LogLineCipher::decipherToken(const char* body, std::size_t length) {
    const auto size = strictBase64Size(body, length);
    if (!size || *size < 2 * kBlock || *size % kBlock != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes = base64DecodeBlocks(std::string(body, length));
    if (bytes.size() != *size) {
        return std::nullopt;
    }
    encryption::Block<16> chaining = chaining_;
    decrypt_.crypt(chaining, bytes.data(), bytes.data(), bytes.size());
    const std::size_t fill = bytes.back();
    if (fill > kBlock || fill > bytes.size() - kBlock) {
        return std::nullopt;
    }
    chaining_ = chaining;
    return std::string(bytes.begin() + kBlock, bytes.end() - static_cast<std::ptrdiff_t>(fill));
}

std::string LogLineCipher::decipherTokens(std::string line) {
    std::size_t open = line.find("@@");
    if (open == std::string::npos) {
        return line;
    }
    std::string result;
    result.reserve(line.size());
    std::size_t done = 0;
    while (open != std::string::npos) {
        const std::size_t close = line.find("@@", open + 2);
        if (close == std::string::npos) {
            break;
        }
        if (auto text = decipherToken(line.data() + open + 2, close - open - 2)) {
            result.append(line, done, open - done);
            result += *text;
            done = close + 2;
            open = line.find("@@", done);
        } else {
            // Not a token: its closing "@@" may open the next one.
            open = close;
        }
    }
    result.append(line, done, std::string::npos);
    return result;
}

std::string LogLineCipher::encipher(const std::string& line) {
    const std::size_t padded = (line.size() + kBlock - 1) / kBlock * kBlock;
    plain_.assign(2 * kBlock + padded, ' ');
    for (std::size_t i = 0; i < kBlock; ++i) {
        plain_[2 * i] = static_cast<std::uint8_t>(kHex[chaining_[i] >> 4]);
        plain_[2 * i + 1] = static_cast<std::uint8_t>(kHex[chaining_[i] & 0xF]);
    }
    std::memcpy(plain_.data() + 2 * kBlock, line.data(), line.size());
    encrypt_.crypt(chaining_, plain_.data(), plain_.data(), plain_.size());
    return base64Encode(plain_.data() + kBlock, plain_.size() - kBlock);
}

std::string encipherToken(const encryption::Key<16>& key, const std::string& text) {
    const std::size_t fill = kBlock - text.size() % kBlock;
    std::vector<std::uint8_t> plain(kBlock + text.size() + fill, static_cast<std::uint8_t>(fill));
    encryption::randomFill(plain.data(), kBlock);
    std::memcpy(plain.data() + kBlock, text.data(), text.size());
    const encryption::AesCipher cipher(key, false);
    encryption::Block<16> chaining;
    cipher.crypt(chaining, plain.data(), plain.data(), plain.size());
    return "@@" + base64Encode(plain.data(), plain.size()) + "@@";
}

LogLineDecoder::LogLineDecoder() : LogLineDecoder(logKey()) {}

LogLineDecoder::LogLineDecoder(const encryption::Key<16>& key) : decrypt_(key, true) {}

std::optional<std::string> LogLineDecoder::decipher(const std::string& line, std::string& reason) const {
    std::size_t length = line.size();
    if (length > 0 && line[length - 1] == '\r') {
        --length;
    }
    if (length == 0) {
        reason = "empty line";
        return std::nullopt;
    }
    const auto size = strictBase64Size(line.data(), length);
    if (!size) {
        reason = "not Base64 text";
        return std::nullopt;
    }
    if (*size % kBlock != 0) {
        reason = std::to_string(*size) + " bytes are not whole cipher blocks";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes = base64DecodeBlocks(line.substr(0, length));
    if (bytes.size() != *size) {
        reason = "not Base64 text";
        return std::nullopt;
    }
    encryption::Block<16> chaining;
    decrypt_.crypt(chaining, bytes.data(), bytes.data(), bytes.size());
    std::size_t end = bytes.size();
    while (end > kBlock && bytes[end - 1] == ' ') {
        --end;
    }
    std::string text(bytes.begin() + kBlock, bytes.begin() + static_cast<std::ptrdiff_t>(end));
    if (!looksLikeLogLine(text)) {
        reason = "does not decipher to a log line (another key, or a damaged line)";
        return std::nullopt;
    }
    return escapeCharacters(std::move(text), [](unsigned char c) { return isControl(c) && c != '\t'; });
}

} // namespace qv::sys::Logger
