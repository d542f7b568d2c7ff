#pragma once

// The base of every worker thread: a subclass supplies run(); the base
// creates the Win32 thread suspended, names it "<identity name>:<instance id>"
// for the log and a debugger, hands the creating thread's impersonation over
// to it, and lets the owner start and join it. An exception escaping run()
// is fatal: it is logged, a crash dump is written and the process aborts.
//
// Threads: start, join and the destructor are for the owning thread only.
// The owner joins before the subclass's members go away: the destructor
// closes the handle without waiting.

#include <cstdint>
#include <memory>
#include <string>

#include <boost/noncopyable.hpp>

#include "sys/logger/logger.h"

namespace qv::sys {

class Thread : public virtual Logger::Logged, private boost::noncopyable {
public:
    // join's time-out in microseconds that means no limit.
    static constexpr std::uint32_t kJoinForever = 0xFFFFFFFF;

    ~Thread() override;

    // Lets the thread run; true while it is running.
    bool start();
    // False only when the time-out passed; the thread then stays joinable.
    // True at once for a thread that was never started.
    bool join(std::uint32_t timeout);

    std::uint32_t threadId() const;
    const std::string& threadName() const;
    // Whether the thread was given the creating thread's impersonation token.
    bool isImpersonating() const;

protected:
    // Creates the thread suspended. Throws SystemError (code 10) when the
    // system cannot create it.
    Thread();

    // The body, called once on the new thread.
    virtual void run() = 0;

private:
    struct Record;
    friend struct ThreadEntry;
    bool create();

    std::unique_ptr<Record> record_;
};

} // namespace qv::sys
