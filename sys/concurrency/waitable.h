#pragma once

// Things a thread can wait for: kernel objects behind a small interface, so
// that callers neither see <windows.h> nor the object behind the handle.

#include <cstdint>
#include <limits>

#include <boost/noncopyable.hpp>

namespace qv::sys {

// Time-outs are signed microsecond counts; this one, and only this one, means
// no limit. A negative count is a poll: a caller passing what is left of a
// deadline it has already passed must not block until someone else acts.
constexpr std::int64_t kWaitForever = std::numeric_limits<std::int64_t>::max();

// Whole milliseconds for a kernel wait, rounded up; kWaitForever gives no
// limit (0xFFFFFFFF), a negative count 0. A finite count too large for a
// kernel time-out is cut to the longest finite one rather than wrapping.
// Every wait of the library converts through here.
inline std::uint32_t waitMilliseconds(std::int64_t timeout) {
    constexpr std::uint32_t kNoLimit = 0xFFFFFFFF;
    if (timeout == kWaitForever) {
        return kNoLimit;
    }
    if (timeout <= 0) {
        return 0;
    }
    const std::int64_t milliseconds = timeout / 1000 + (timeout % 1000 != 0 ? 1 : 0);
    return milliseconds >= kNoLimit ? kNoLimit - 1 : static_cast<std::uint32_t>(milliseconds);
}

class IWaitable {
public:
    virtual ~IWaitable() = default;
    // The kernel handle (a HANDLE).
    virtual void* getHandle() const = 0;
    // True exactly when the object was signalled in time; a time-out, an
    // abandoned object or a failed wait give false.
    virtual bool wait(std::int64_t timeout) = 0;
};

class IFlag {
public:
    virtual ~IFlag() = default;
    virtual void set() = 0;
    virtual void reset() = 0;
};

class IWaitableFlag : public IFlag {
public:
    virtual IWaitable& asWaitable() = 0;
};

// A kernel object to wait on; a subclass owns the state object.
class Waitable : private boost::noncopyable, public IWaitable {
public:
    class State {
    public:
        explicit State(void* handle) : handle_(handle) {}
        virtual ~State() = default;
        void* handle() const { return handle_; }

    protected:
        void* handle_;
    };

    ~Waitable() override = 0;
    void* getHandle() const override;
    bool wait(std::int64_t timeout) override;

protected:
    explicit Waitable(State* state) : state_(state) {}
    State* state_; // not owned here
};

} // namespace qv::sys
