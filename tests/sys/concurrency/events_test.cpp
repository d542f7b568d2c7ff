#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/concurrency/event_fifo.h"
#include "sys/concurrency/state_machine.h"
#include "sys/logger/log_capture.h"

namespace qv::sys {
namespace {

using IntEvents = EventTemplate<int>;

struct CountingSource : IntEvents::Source {
    void firstHandlerConnected() override { ++firsts; }
    void lastHandlerDisconnected() override { ++lasts; }
    int firsts = 0;
    int lasts = 0;
};

// Notes each event; when given a handler to pass the turn to, it leaves the
// source and connects that one instead, from inside the call.
struct Recorder : IntEvents::Handler {
    Recorder(std::string name, std::string& log, Recorder* next = nullptr)
        : name_(name), log_(log), next_(next) {}
    void onEvent(const IntEvents::Source* source, const int& event) override {
        log_ += name_ + std::to_string(event) + " ";
        if (next_ != nullptr) {
            auto& own = const_cast<IntEvents::Source&>(*source);
            disconnect(own);
            next_->connect(own);
        }
    }
    std::string name_;
    std::string& log_;
    Recorder* next_;
};

TEST(EventSource, HandlersRunInConnectionOrderOncePerEntry) {
    CountingSource source;
    std::string log;
    Recorder a("A", log);
    Recorder b("B", log);
    a.connect(source);
    b.connect(source);
    a.connect(source);
    source.notify(1);
    Recorder stranger("S", log);
    stranger.disconnect(source); // not connected: the list stays as it was
    a.disconnect(source);        // the first of its two entries
    source.notify(2);
    EXPECT_EQ(log, "A1 B1 A1 B2 A2 ");

    b.disconnect(source);
    a.disconnect(source);
    stranger.disconnect(source); // an empty list does not become empty again
    a.connect(source);
    a.disconnect(source);
    EXPECT_EQ(source.firsts, 2);
    EXPECT_EQ(source.lasts, 2);

    // Rewiring from inside a call, on the firing thread: the snapshot keeps
    // this event's list, and the recursive lock lets the handler in.
    Recorder handOver("H", log, &b);
    handOver.connect(source);
    log.clear();
    source.notify(3);
    source.notify(4);
    EXPECT_EQ(log, "H3 B4 ");
}

struct Machine : StateMachine<std::uint32_t> {
    Machine() : Logged("EventsTestMachine", "") {}
};

TEST(StateMachine, EachChangeIsLoggedAndFiredOnceToAnEventFifo) {
    test::LogCapture& records = test::LogCapture::of("EventsTestMachine");
    Machine machine;
    EventFifo1<StateChangeEvent<std::uint32_t>, 100> events;
    events.connect(machine);
    machine.setState(0); // unchanged: no event, no record
    machine.setState(7);
    machine.setState(7);
    machine.setState(2);
    EXPECT_EQ(machine.getState(), 2u);
    EXPECT_EQ(records.take(), (std::vector<test::CapturedRecord>{{6, 156, "", "State change from 0 to 7"},
                                                                 {6, 156, "", "State change from 7 to 2"}}));
    using Queued = decltype(events)::Queued;
    for (std::uint32_t to : {7u, 2u}) {
        auto value = events.take();
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->tag(), 1);
        EXPECT_EQ(static_cast<const Queued&>(*value).value().first, &machine);
        EXPECT_EQ(static_cast<const Queued&>(*value).value().second.to, to);
    }
    EXPECT_EQ(events.take(), nullptr);
}

// Counts its live copies, so that a lost or doubly deleted event shows.
struct TrackedEvent {
    inline static int live = 0;
    TrackedEvent() { ++live; }
    TrackedEvent(const TrackedEvent&) { ++live; }
    ~TrackedEvent() { --live; }
};

TEST(EventFifo, DropsEventsBeyondCapacityAndDeletesWhatIsLeftOnce) {
    EventTemplate<TrackedEvent>::Source source;
    {
        EventFifo1<TrackedEvent, 100> fifo;
        fifo.connect(source);
        for (int i = 0; i < 101; ++i) {
            source.notify(TrackedEvent());
        }
        EXPECT_EQ(TrackedEvent::live, 100); // the 101st is gone, not leaked
        fifo.take();
        EXPECT_EQ(TrackedEvent::live, 99);
    }
    EXPECT_EQ(TrackedEvent::live, 0);
}

} // namespace
} // namespace qv::sys
