#pragma once

// The exception family of the system library. Every failure is thrown by
// value as one of these and caught by reference; `Exception` is the root
// that lets a catch site copy, rethrow and describe an exception without
// knowing its concrete type.

#include <cstdint>
#include <exception>
#include <memory>
#include <sstream>
#include <string>

namespace qv::sys {

// One-field wrappers so the two numbers of a SystemMessageException cannot be swapped.
struct MessageId {
    explicit MessageId(std::uint32_t id) : value(id) {}
    std::uint32_t value;
};

struct SystemErrorCode {
    explicit SystemErrorCode(std::uint64_t code) : value(code) {}
    std::uint64_t value;
};

// Writes systemErrorText(code, false).
std::ostream& operator<<(std::ostream& stream, const SystemErrorCode& code);

class Exception {
public:
    virtual ~Exception() = default;
    // A heap copy with the same dynamic type.
    virtual std::unique_ptr<Exception> clone() const = 0;
    // Throws a copy with the same dynamic type.
    [[noreturn]] virtual void rethrow() const = 0;
    virtual std::wstring text() const = 0;

protected:
    Exception() = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
};

class ExceptionBase : public Exception, public std::exception {
public:
    // Narrows text() into a cache owned by this object; the pointer stays
    // valid until the next what() on the same object.
    const char* what() const noexcept override;

protected:
    ExceptionBase() = default;
    ExceptionBase(const ExceptionBase&) = default;

private:
    mutable std::string what_;
};

class ErrorCodeException : public ExceptionBase {
public:
    explicit ErrorCodeException(std::uint32_t code) : code_(code) {}
    ~ErrorCodeException() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
    // Code 0: empty; 1..10: messageText(code); 11 and up: messageText(1) and the code in decimal.
    std::wstring text() const override;

    std::uint32_t code() const { return code_; }

private:
    std::uint32_t code_;
};

class SystemError : public ErrorCodeException {
public:
    SystemError(std::uint32_t code, SystemErrorCode systemCode)
        : ErrorCodeException(code), systemCode_(systemCode.value) {}
    ~SystemError() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
    std::wstring text() const override;

    std::uint64_t systemCode() const { return systemCode_; }

private:
    std::uint64_t systemCode_;
};

// Misuse of an internal structure; the error code part is always 1.
class InternalError : public SystemError {
public:
    InternalError(const char* message, SystemErrorCode systemCode);
    ~InternalError() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
    std::wstring text() const override;

    const std::wstring& message() const { return message_; }

private:
    std::wstring message_;
};

class MessageException : public ExceptionBase {
public:
    explicit MessageException(MessageId id) : id_(id.value) {}
    ~MessageException() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
    // messageText(id) followed by whatever appendDetail adds.
    std::wstring text() const override;
    virtual std::wostringstream& appendDetail(std::wostringstream& stream) const;

    std::uint32_t messageId() const { return id_; }

private:
    std::uint32_t id_;
};

class SystemMessageException : public MessageException {
public:
    SystemMessageException(MessageId id, SystemErrorCode systemCode)
        : MessageException(id), systemCode_(systemCode.value) {}
    ~SystemMessageException() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
    // Appends systemErrorText(code, false) with no separator.
    std::wostringstream& appendDetail(std::wostringstream& stream) const override;

    std::uint64_t systemCode() const { return systemCode_; }

private:
    std::uint64_t systemCode_;
};

// Not a std::exception: the registry exceptions derive from it.
class SystemErrorCodeException : public Exception {
public:
    explicit SystemErrorCodeException(std::uint32_t code) : code_(code) {}
    ~SystemErrorCodeException() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
    std::wstring text() const override;

    std::uint32_t code() const { return code_; }

private:
    std::uint32_t code_;
};

class Failure : public std::exception {
public:
    explicit Failure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A structured exception (hardware fault) turned into a C++ throw; not a
// std::exception. The concrete class lives with the translator.
class SystemException {
public:
    virtual ~SystemException() = default;
    virtual const char* what() const = 0;
};

// Message ids in use.
constexpr std::uint32_t kMessagePipeError = 0x1E;
constexpr std::uint32_t kMessageImpersonation = 0x30;
constexpr std::uint32_t kMessageUserToken = 0x31;

// Looks up the text of a message id; the process has none unless one is installed.
class MessageCatalogue {
public:
    virtual ~MessageCatalogue() = default;
    virtual std::wstring lookup(std::uint32_t id) const = 0;
};

// Installs the process-wide catalogue (null removes it); not owned.
void setMessageCatalogue(const MessageCatalogue* catalogue);

// "win32 0x%08x: <system text>", or the system text alone when `bare`.
// An unknown code has the text "Unknown".
std::wstring systemErrorText(std::uint32_t code, bool bare = false);

// The catalogue's text, or "Message 0x" and the id in 8 upper-case hex digits.
std::wstring messageText(std::uint32_t id);

// Keeps characters below 128; any other character (a surrogate pair counts
// as one) becomes '?'.
std::string narrowText(const std::wstring& wide);

// Widens each byte to the character of the same value.
std::wstring widenText(const std::string& narrow);

// Describes the exception being handled; call only from inside a catch block.
std::string currentExceptionText();

} // namespace qv::sys
