#pragma once

// Observers: a source calls each connected handler, synchronously and in
// connection order, when it fires an event.
//
// Threads: any thread may notify, connect and disconnect. Handlers run on the
// firing thread with the source's (recursive) lock held: a handler may
// connect or disconnect handlers of the same source, but must not wait for
// another thread that might need that source.

#include <algorithm>
#include <vector>

#include <boost/noncopyable.hpp>

#include "sys/concurrency/critical_section.h"

namespace qv::sys {

template <typename E>
class EventTemplate {
public:
    class Source;

    class Handler {
    public:
        virtual void onEvent(const Source* source, const E& event) = 0;
        // Appends this handler to the source's list (twice if called twice).
        virtual void connect(Source& source) {
            CriticalSectionGuard guard(source.lock_);
            source.handlers_.push_back(this);
            if (source.handlers_.size() == 1) {
                source.firstHandlerConnected();
            }
        }
        // Removes the first entry of this handler from the source's list. A
        // handler that is not in the list changes nothing and fires no hook.
        virtual void disconnect(Source& source) {
            CriticalSectionGuard guard(source.lock_);
            auto& handlers = source.handlers_;
            const auto found = std::find(handlers.begin(), handlers.end(), this);
            if (found == handlers.end()) {
                return;
            }
            handlers.erase(found);
            if (handlers.empty()) {
                source.lastHandlerDisconnected();
            }
        }
        virtual ~Handler() = default;
    };

    // Does not own its handlers.
    class Source : private boost::noncopyable {
    public:
        Source() = default;
        virtual ~Source() = default;

        void notify(const E& event) {
            CriticalSectionGuard guard(lock_);
            // A snapshot: handlers may change the list while being called.
            const std::vector<Handler*> snapshot = handlers_;
            for (Handler* handler : snapshot) {
                handler->onEvent(this, event);
            }
        }

    protected:
        // Called under the lock when the list goes from empty to one entry,
        // and when it becomes empty.
        virtual void firstHandlerConnected() {}
        virtual void lastHandlerDisconnected() {}

    private:
        friend class Handler;
        std::vector<Handler*> handlers_;
        CriticalSection lock_;
    };
};

} // namespace qv::sys
