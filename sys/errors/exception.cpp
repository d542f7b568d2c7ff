#include "sys/errors/exception.h"

#include <atomic>
#include <cwchar>

#include <windows.h>

namespace qv::sys {

namespace {

std::atomic<const MessageCatalogue*> g_catalogue{nullptr};

std::wstring hex8(std::uint32_t value, const wchar_t* digits) {
    std::wstring text(8, L'0');
    for (int i = 7; i >= 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = digits[value & 0xF];
    }
    return text;
}

} // namespace

void setMessageCatalogue(const MessageCatalogue* catalogue) {
    g_catalogue.store(catalogue);
}

std::wstring systemErrorText(std::uint32_t code, bool bare) {
    wchar_t buffer[1000] = L"Unknown";
    // The result is not checked: on failure the buffer still says "Unknown".
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, code, 0, buffer, 1000, nullptr);
    buffer[999] = L'\0';
    if (bare) {
        return buffer;
    }
    return L"win32 0x" + hex8(code, L"0123456789abcdef") + L": " + buffer;
}

std::wstring messageText(std::uint32_t id) {
    if (const MessageCatalogue* catalogue = g_catalogue.load()) {
        return catalogue->lookup(id);
    }
    return L"Message 0x" + hex8(id, L"0123456789ABCDEF");
}

std::string narrowText(const std::wstring& wide) {
    std::string narrow;
    narrow.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(wide[i]);
        if (c < 128) {
            narrow.push_back(static_cast<char>(c));
            continue;
        }
        narrow.push_back('?');
        // A high surrogate followed by a low one is a single character.
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
            const auto next = static_cast<std::uint32_t>(wide[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                ++i;
            }
        }
    }
    return narrow;
}

std::wstring widenText(const std::string& narrow) {
    std::wstring wide;
    wide.reserve(narrow.size());
    for (const char c : narrow) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::ostream& operator<<(std::ostream& stream, const SystemErrorCode& code) {
    return stream << narrowText(systemErrorText(static_cast<std::uint32_t>(code.value), false));
}

std::string currentExceptionText() {
    try {
        throw;
    } catch (const Exception& e) {
        return narrowText(e.text());
    } catch (const std::exception& e) {
        return e.what();
    } catch (const char* text) {
        return text ? text : "";
    } catch (const SystemException& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception type";
    }
}

const char* ExceptionBase::what() const noexcept {
    try {
        what_ = narrowText(text());
    } catch (...) {
        // Out of memory while describing: keep whatever the cache held.
    }
    return what_.c_str();
}

// clone and rethrow are the same for every concrete class.
#define QV_EXCEPTION_COPY_SLOTS(Class)                                                                       \
    std::unique_ptr<Exception> Class::clone() const { return std::make_unique<Class>(*this); }              \
    void Class::rethrow() const { throw Class(*this); }

QV_EXCEPTION_COPY_SLOTS(ErrorCodeException)
QV_EXCEPTION_COPY_SLOTS(SystemError)
QV_EXCEPTION_COPY_SLOTS(InternalError)
QV_EXCEPTION_COPY_SLOTS(MessageException)
QV_EXCEPTION_COPY_SLOTS(SystemMessageException)
QV_EXCEPTION_COPY_SLOTS(SystemErrorCodeException)

#undef QV_EXCEPTION_COPY_SLOTS

std::wstring ErrorCodeException::text() const {
    if (code_ == 0) {
        return std::wstring();
    }
    if (code_ <= 10) {
        return messageText(code_);
    }
    return messageText(1) + std::to_wstring(code_);
}

std::wstring SystemError::text() const {
    return ErrorCodeException::text() + L", " + systemErrorText(static_cast<std::uint32_t>(systemCode_), false);
}

InternalError::InternalError(const char* message, SystemErrorCode systemCode)
    : SystemError(1, systemCode), message_(widenText(message != nullptr ? message : "")) {}

std::wstring InternalError::text() const {
    std::wstring text = L"Internal error \"" + ErrorCodeException::text() + L"\", ";
    if (systemCode() != 0) {
        text += systemErrorText(static_cast<std::uint32_t>(systemCode()), false) + L"\", ";
    }
    return text + message_;
}

std::wstring MessageException::text() const {
    std::wostringstream stream;
    stream << messageText(id_);
    appendDetail(stream);
    return stream.str();
}

std::wostringstream& MessageException::appendDetail(std::wostringstream& stream) const {
    return stream;
}

std::wostringstream& SystemMessageException::appendDetail(std::wostringstream& stream) const {
    stream << systemErrorText(static_cast<std::uint32_t>(systemCode_), false);
    return stream;
}

std::wstring SystemErrorCodeException::text() const {
    return systemErrorText(code_, false);
}

} // namespace qv::sys
