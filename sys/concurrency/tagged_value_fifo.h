#pragma once

// A FIFO of owned tagged values. Producers on any thread offer values (the
// lock is held inside offer, around the full test and Add); the single
// consumer takes values without it. Values still queued are deleted by
// clear() and by the destructor.

#include <cstdint>
#include <memory>

#include <boost/noncopyable.hpp>

#include "sys/concurrency/critical_section.h"
#include "sys/concurrency/fifo.h"
#include "sys/concurrency/tagged_value.h"

namespace qv::sys {

template <std::uint32_t N>
class TaggedValueFifo : private boost::noncopyable {
public:
    using ValueFifo = Fifo<const ITaggedValue*, N, NullSquasher<const ITaggedValue*>>;

    TaggedValueFifo() = default;
    virtual ~TaggedValueFifo() { clear(); }

    // Producers: queues the value, which the FIFO then owns, unless the FIFO
    // is full; a value that is not queued is deleted. True when queued.
    bool offer(std::unique_ptr<const ITaggedValue> value) {
        CriticalSectionGuard guard(lock_);
        if (fifo_.isFull()) {
            return false;
        }
        // Owned by the FIFO before Add: Add stores it first and only then sets
        // the flags, so a flag that fails to set must not delete a queued value.
        fifo_.Add(value.release());
        return true;
    }

    // Consumer: the oldest value, now the caller's; null when empty.
    std::unique_ptr<const ITaggedValue> take() {
        if (fifo_.isEmpty()) {
            return nullptr;
        }
        std::unique_ptr<const ITaggedValue> value(fifo_.getFirst());
        fifo_.Remove();
        return value;
    }

    // Consumer: removes and deletes every queued value.
    void clear() {
        while (!fifo_.isEmpty()) {
            const ITaggedValue* value = static_cast<const ValueFifo&>(fifo_).getFirst();
            fifo_.Remove();
            delete value;
        }
    }

private:
    CriticalSection lock_;
    ValueFifo fifo_;
};

} // namespace qv::sys
