#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sys/concurrency/command_invoker.h"
#include "sys/errors/exception.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys::CommandInvoker {
namespace {

struct Call : Command {
    explicit Call(std::function<void()> body) : body_(std::move(body)) {}
    void execute() override { body_(); }
    std::function<void()> body_;
};

std::vector<std::string> stateChanges(TaggedValueFifo<100>& events) {
    using Queued = EventFifo1<StateChangeEvent<State>, 100>::Queued;
    std::vector<std::string> changes;
    while (auto value = events.take()) {
        const auto& change = static_cast<const Queued&>(*value).value().second;
        changes.push_back(std::to_string(change.from) + ">" + std::to_string(change.to));
    }
    return changes;
}

TEST(CommandInvoker, InvokeRunsOnTheEngineThreadAndRethrowsOnTheCaller) {
    Controller controller;
    std::string threadName;
    DWORD threadId = 0;
    Call whereAmI([&] {
        threadName = Logger::currentThreadName();
        threadId = GetCurrentThreadId();
    });
    controller.invoke(whereAmI);
    EXPECT_EQ(stateChanges(controller.stateEvents()), (std::vector<std::string>{"0>1"}));
    EXPECT_EQ(threadName.rfind("CommandInvokerEngine:", 0), 0u) << threadName;
    EXPECT_NE(threadId, GetCurrentThreadId());

    Call failing([] { throw Failure("command failed"); });
    EXPECT_THAT([&] { controller.invoke(failing); },
                testing::ThrowsMessage<Failure>(testing::StrEq("command failed")));
    // A command may not invoke on its own engine: refused, and the refusal reaches the caller.
    Call nested([&] { controller.invoke(whereAmI); });
    EXPECT_THROW(controller.invoke(nested), InternalError);

    threadId = 0;
    controller.invoke(whereAmI); // the engine still serves
    EXPECT_NE(threadId, 0u);
}

// Also a bound, with a wide margin, on the time of 300 invokes: a lost
// wake-up costs the caller the controller's 200 ms re-poll, a minute in all,
// where they take a fraction of a second.
TEST(CommandInvoker, CallersOnSeveralThreadsRunOneCommandAtATime) {
    const auto start = std::chrono::steady_clock::now();
    Controller controller;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    int runs = 0;
    Call work([&] {
        overlaps += inside.fetch_add(1) != 0 ? 1 : 0;
        Sleep(0);
        ++runs;
        inside.fetch_sub(1);
    });
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                controller.invoke(work);
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(runs, 300);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count(), 20);
}

TEST(CommandInvoker, TheEngineThreadHasEndedWhenTheControllerIsGone) {
    win32::UniqueHandle engineThread;
    {
        Controller controller;
        Call openSelf([&] { engineThread.reset(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId())); });
        controller.invoke(openSelf);
        ASSERT_TRUE(engineThread);
    }
    EXPECT_EQ(WaitForSingleObject(engineThread.get(), 0), WAIT_OBJECT_0);
}

TEST(CommandInvoker, StopAtTheHeadEndsTheEngineAndFailsTheCommandsBehindIt) {
    Engine engine;
    EventFifo1<StateChangeEvent<State>, 100> events;
    events.connect(engine);
    int runs = 0;
    Call counted([&] { ++runs; });
    std::exception_ptr first;
    std::exception_ptr second;
    engine.writer().Add(EngineCommand{EngineCommand::kExecute, &counted, &first});
    engine.writer().Add(EngineCommand{EngineCommand::kStop, nullptr, nullptr});
    engine.writer().Add(EngineCommand{EngineCommand::kExecute, &counted, &second});
    engine.writer().Add(EngineCommand{EngineCommand::kExecute, &counted, &second});
    EXPECT_EQ(engine.getState(), NotStarted);
    engine.start();
    EXPECT_TRUE(engine.join(Thread::kJoinForever));
    events.disconnect(engine);

    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(first);
    EXPECT_THROW(std::rethrow_exception(second), InternalError);
    EXPECT_TRUE(engine.writer().isEmpty());
    EXPECT_EQ(stateChanges(events), (std::vector<std::string>{"0>1", "1>2", "2>3"}));
}

TEST(CommandInvoker, SlicedWaitsPollWhenLateAndWaitWithoutLimitOnlyForTheLargest) {
    const Logger::Logged logged("SlicedWaitTest", "");
    AutoFlag neverSet(false);
    int looks = 0;
    const auto holdsAtTheFourthLook = [&] { return ++looks > 3; };
    EXPECT_FALSE(waitSliced(logged, "test", neverSet, holdsAtTheFourthLook, -3000, 0)); // late: one look
    EXPECT_TRUE(waitSliced(logged, "test", neverSet, holdsAtTheFourthLook, kWaitForever, 0));
    EXPECT_EQ(looks, 4);
}

} // namespace
} // namespace qv::sys::CommandInvoker
