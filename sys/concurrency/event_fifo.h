#pragma once

// Event FIFOs: handlers that queue the events of their sources as tagged
// values, for a consumer to take on its own thread. A full FIFO drops new
// events without report.

#include <cstdint>
#include <memory>
#include <utility>

#include "sys/concurrency/event_source.h"
#include "sys/concurrency/tagged_value_fifo.h"

namespace qv::sys {

// Names the role of a FIFO of events.
template <std::uint32_t N>
class EventFifo : public virtual TaggedValueFifo<N> {};

// Queues events of type E; the tagged value (tag 1) holds the firing source and the event.
template <typename E, std::uint32_t N>
class EventFifoType1 : public virtual EventFifo<N>, public EventTemplate<E>::Handler {
public:
    using Queued = TaggedValue<std::pair<const typename EventTemplate<E>::Source*, E>, 1>;

    void onEvent(const typename EventTemplate<E>::Source* source, const E& event) override {
        this->offer(std::make_unique<Queued>(std::make_pair(source, event)));
    }
};

template <typename E, std::uint32_t N>
class EventFifo1 : public virtual EventFifo<N>, public EventFifoType1<E, N> {};

} // namespace qv::sys
