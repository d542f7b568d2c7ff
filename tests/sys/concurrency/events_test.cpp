#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "captured_records.h"
#include "sys/concurrency/event_fifo.h"
#include "sys/concurrency/state_machine.h"

namespace qv::sys {
namespace {

using IntEvents = EventTemplate<int>;

struct CountingSource : IntEvents::Source {
    void firstHandlerConnected() override { ++firsts; }
    void lastHandlerDisconnected() override { ++lasts; }
    int firsts = 0;
    int lasts = 0;
};

struct Recorder : IntEvents::Handler {
    Recorder(std::string name, std::string& log) : name_(std::move(name)), log_(log) {}
    void onEvent(const IntEvents::Source*, const int& event) override {
        log_ += name_ + std::to_string(event) + " ";
    }
    std::string name_;
    std::string& log_;
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
    EXPECT_EQ(log, "A1 B1 A1 ");
    EXPECT_EQ(source.firsts, 1);

    Recorder stranger("S", log);
    stranger.disconnect(source); // not connected: the list stays as it was
    a.disconnect(source);        // the first of its two entries
    log.clear();
    source.notify(2);
    EXPECT_EQ(log, "B2 A2 ");

    b.disconnect(source);
    a.disconnect(source);
    EXPECT_EQ(source.lasts, 1);
    stranger.disconnect(source); // an empty list does not become empty again
    EXPECT_EQ(source.lasts, 1);
    a.connect(source);
    a.disconnect(source);
    EXPECT_EQ(source.firsts, 2);
    EXPECT_EQ(source.lasts, 2);
}

// Changes the list of its own source while being called, on the firing thread.
struct Rewirer : IntEvents::Handler {
    Rewirer(IntEvents::Source& source, IntEvents::Handler& next) : source_(source), next_(next) {}
    void onEvent(const IntEvents::Source*, const int&) override {
        ++calls;
        disconnect(source_);
        next_.connect(source_);
    }
    IntEvents::Source& source_;
    IntEvents::Handler& next_;
    int calls = 0;
};

TEST(EventSource, HandlerMayRewireItsSourceWhileBeingCalled) {
    CountingSource source;
    std::string log;
    Recorder after("R", log);
    Rewirer rewirer(source, after);
    rewirer.connect(source);
    source.notify(1); // the snapshot: `after` joins for the next event only
    EXPECT_EQ(log, "");
    source.notify(2);
    EXPECT_EQ(log, "R2 ");
    EXPECT_EQ(rewirer.calls, 1);
}

enum class Light : std::uint32_t { Off, On };

struct Lamp : StateMachine<Light> {
    Lamp() : Logged("EventsTestLamp", "") {}
};

struct Counter : StateMachine<std::uint32_t> {
    Counter() : Logged("EventsTestCounter", "") {}
};

} // namespace

template <>
struct StateText<Light> {
    static void write(std::ostream& stream, Light light) {
        if (light == Light::Off || light == Light::On) {
            stream << (light == Light::On ? "On" : "Off");
        } else {
            stream << static_cast<std::uint32_t>(light);
        }
    }
};

namespace {

struct LightRecorder : EventTemplate<StateChangeEvent<Light>>::Handler {
    void onEvent(const EventTemplate<StateChangeEvent<Light>>::Source*,
                 const StateChangeEvent<Light>& e) override {
        changes.push_back(std::to_string(static_cast<int>(e.from)) + ">" +
                          std::to_string(static_cast<int>(e.to)));
    }
    std::vector<std::string> changes;
};

TEST(StateMachine, ChangesAreLoggedWithTheStateTextAndFiredOnce) {
    test::CapturedRecords& lampRecords = test::captureModule("EventsTestLamp");
    test::CapturedRecords& counterRecords = test::captureModule("EventsTestCounter");
    Lamp lamp;
    LightRecorder recorder;
    recorder.connect(lamp);
    EXPECT_EQ(lamp.getState(), Light::Off);
    lamp.setState(Light::Off); // unchanged: no event, no record
    lamp.setState(Light::On);
    lamp.setState(Light::On);
    lamp.setState(static_cast<Light>(7));
    EXPECT_EQ(lamp.getState(), static_cast<Light>(7));
    EXPECT_EQ(recorder.changes, (std::vector<std::string>{"0>1", "1>7"}));
    EXPECT_EQ(lampRecords.records, (std::vector<std::string>{"6|156||State change from Off to On",
                                                             "6|156||State change from On to 7"}));

    Counter counter;
    counter.setState(3);
    EXPECT_EQ(counterRecords.records, (std::vector<std::string>{"6|156||State change from 0 to 3"}));
}

// Counts its live copies, so that a lost or doubly deleted event shows.
struct TrackedEvent {
    static int live;
    explicit TrackedEvent(int v) : value(v) { ++live; }
    TrackedEvent(const TrackedEvent& other) : value(other.value) { ++live; }
    TrackedEvent& operator=(const TrackedEvent&) = default;
    ~TrackedEvent() { --live; }
    int value;
};
int TrackedEvent::live = 0;

TEST(EventFifo, QueuesSourceAndEventAndDropsBeyondCapacity) {
    using Fifo = EventFifo1<TrackedEvent, 100>;
    EventTemplate<TrackedEvent>::Source source;
    {
        Fifo fifo;
        fifo.connect(source);
        for (int i = 0; i < 101; ++i) {
            source.notify(TrackedEvent(i));
        }
        EXPECT_EQ(TrackedEvent::live, 100); // the 101st is gone, not leaked
        for (int i = 0; i < 3; ++i) {
            std::unique_ptr<const ITaggedValue> value = fifo.take();
            ASSERT_EQ(value->tag(), 1);
            const auto& queued = static_cast<const Fifo::Queued&>(*value);
            EXPECT_EQ(queued.value().first, &source);
            EXPECT_EQ(queued.value().second.value, i);
        }
        fifo.disconnect(source);
        source.notify(TrackedEvent(200));
        EXPECT_EQ(TrackedEvent::live, 97);
    }
    EXPECT_EQ(TrackedEvent::live, 0);
}

} // namespace
} // namespace qv::sys
