#pragma once

// Flags: kernel events that can be set, reset and waited on, alone or in a
// Waitables set. Any thread may set, reset or wait on any flag.

#include <cstdint>
#include <string>

#include "sys/concurrency/securable_object.h"
#include "sys/concurrency/waitable.h"

namespace qv::sys {

// Creates the kernel event behind a flag. The system's own is used unless a
// test supplies another to see how refusals by the host are handled.
class IEventCreator {
public:
    virtual ~IEventCreator() = default;
    // The event handle, or null; `error` is the call's Win32 error, which for
    // a handle is ERROR_ALREADY_EXISTS when an existing event was opened.
    virtual void* createEvent(bool manualReset, bool initiallySet, const char* name,
                              std::uint32_t& error) = 0;
};

class Flag : public Waitable, public ISecurableObject, public IWaitableFlag {
public:
    // Owns the event handle and names it.
    class State : public Waitable::State, public WinSecurableObject {
    public:
        // A non-empty `name` gives "Global\<name>"; an empty one with
        // `autoName` a generated unique name (generatedEventName; one that
        // exists already, made by another process, is passed over); otherwise
        // the event is unnamed. Where the process may not create objects in
        // the Global namespace (an ordinary user without that privilege) the
        // event is created in the session's Local namespace instead.
        // Throws SystemError (code 10) when no event can be created.
        State(bool initiallySet, bool manualReset, const std::string& name, bool autoName,
              IEventCreator* creator = nullptr);
        ~State() override;

        // The name the event was created with; empty for an unnamed one.
        const std::string& kernelName() const { return kernelName_; }

    protected:
        void* securedHandle() const override { return handle_; }

    private:
        std::string kernelName_;
    };

    Flag(bool initiallySet, bool manualReset);
    ~Flag() override;

    void set() override;
    void reset() override;
    IWaitable& asWaitable() override { return *this; }
    bool setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) override;

    const std::string& kernelName() const { return ownState().kernelName(); }

protected:
    explicit Flag(State* state) : Waitable(state) {}

private:
    State& ownState() const { return *static_cast<State*>(state_); }
};

// An auto-reset flag: a set releases exactly one waiter, then the flag is unset.
class AutoFlag : public Flag {
public:
    explicit AutoFlag(bool initiallySet) : Flag(initiallySet, false) {}
};

// "QvEv" + process id + thread id (decimal) + the address of the process-wide
// sequence counter (16 upper-case hex digits) + "_" + the next sequence number
// (from 1). Any thread may call it.
std::string generatedEventName();

} // namespace qv::sys
