// Rates of the concurrency framework against what it stands on, measured in
// one run so that the ratios hold on a loaded machine:
//  - invoke round trips per second on the command engine, against two
//    threads ping-ponging a bare pair of auto-reset events (the floor);
//  - values per second through Fifo<uint64_t, 100> between two threads that
//    sleep on its edge flags, against a plain acquire/release ring whose
//    sides yield while they wait, and a mutex-and-deque queue of the same
//    capacity with condition variables.
// The measures take turns, round after round, so that a change of load hits
// them alike; each figure is the best of its rounds.
//
//   concurrency_bench [round trips] [values] [rounds]

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "sys/concurrency/command_invoker.h"
#include "sys/concurrency/fifo.h"

namespace {

using Clock = std::chrono::steady_clock;
using qv::sys::kWaitForever;

// Items per second of `run(count)`; the best so far is kept in `best`.
void measure(double& best, std::uint64_t count, void (*run)(std::uint64_t)) {
    const Clock::time_point start = Clock::now();
    run(count);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, static_cast<double>(count) / seconds);
}

void eventPingPong(std::uint64_t count) {
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::thread partner([&] {
        for (std::uint64_t i = 0; i < count; ++i) {
            WaitForSingleObject(ping, INFINITE);
            SetEvent(pong);
        }
    });
    for (std::uint64_t i = 0; i < count; ++i) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    partner.join();
    CloseHandle(ping);
    CloseHandle(pong);
}

struct Nothing : qv::sys::Command {
    void execute() override {}
};

void invokeRoundTrips(std::uint64_t count) {
    qv::sys::CommandInvoker::Controller controller;
    Nothing nothing;
    for (std::uint64_t i = 0; i < count; ++i) {
        controller.invoke(nothing);
    }
}

std::uint64_t g_sink = 0; // keeps the consumers' sums observable

void fifoTransfer(std::uint64_t count) {
    qv::sys::Fifo<std::uint64_t, 100> fifo;
    std::thread producer([&] {
        for (std::uint64_t value = 0; value < count; ++value) {
            while (fifo.isFull()) {
                fifo.notFullFlag().wait(kWaitForever);
            }
            fifo.Add(value);
        }
    });
    for (std::uint64_t i = 0; i < count; ++i) {
        while (fifo.isEmpty()) {
            fifo.notEmptyFlag().wait(kWaitForever);
        }
        g_sink += fifo.getFirst();
        fifo.Remove();
    }
    producer.join();
}

void plainRingTransfer(std::uint64_t count) {
    constexpr std::uint32_t kSlots = 101;
    std::uint64_t slots[kSlots];
    std::atomic<std::uint32_t> write{0};
    std::atomic<std::uint32_t> read{0};
    std::thread producer([&] {
        for (std::uint64_t value = 0; value < count; ++value) {
            const std::uint32_t w = write.load(std::memory_order_relaxed);
            while ((w + 1) % kSlots == read.load(std::memory_order_acquire)) {
                std::this_thread::yield();
            }
            slots[w] = value;
            write.store((w + 1) % kSlots, std::memory_order_release);
        }
    });
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint32_t r = read.load(std::memory_order_relaxed);
        while (write.load(std::memory_order_acquire) == r) {
            std::this_thread::yield();
        }
        g_sink += slots[r];
        read.store((r + 1) % kSlots, std::memory_order_release);
    }
    producer.join();
}

void mutexDequeTransfer(std::uint64_t count) {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::uint64_t> queue;
    std::thread producer([&] {
        for (std::uint64_t value = 0; value < count; ++value) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return queue.size() < 100; });
            queue.push_back(value);
            changed.notify_all();
        }
    });
    for (std::uint64_t i = 0; i < count; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !queue.empty(); });
        g_sink += queue.front();
        queue.pop_front();
        changed.notify_all();
    }
    producer.join();
}

std::uint64_t argument(int argc, char** argv, int index, std::uint64_t fallback) {
    return argc > index ? std::strtoull(argv[index], nullptr, 10) : fallback;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t roundTrips = argument(argc, argv, 1, 20000);
    const std::uint64_t values = argument(argc, argv, 2, 1000000);
    const int rounds = static_cast<int>(argument(argc, argv, 3, 3));

    double floor = 0;
    double invoke = 0;
    double fifo = 0;
    double ring = 0;
    double deque = 0;
    for (int round = 0; round < rounds; ++round) {
        measure(floor, roundTrips, eventPingPong);
        measure(invoke, roundTrips, invokeRoundTrips);
        measure(fifo, values, fifoTransfer);
        measure(ring, values, plainRingTransfer);
        measure(deque, values, mutexDequeTransfer);
    }
    std::printf("event ping-pong (floor)   %12.0f round trips/s\n", floor);
    std::printf("CommandInvoker::invoke    %12.0f round trips/s   %.2f of the floor\n", invoke,
                invoke / floor);
    std::printf("Fifo<uint64_t, 100>       %12.0f values/s\n", fifo);
    std::printf("acquire/release ring      %12.0f values/s      Fifo is %.2f of it\n", ring, fifo / ring);
    std::printf("mutex and deque           %12.0f values/s      Fifo is %.2f of it\n", deque, fifo / deque);
    return g_sink == 0 ? 1 : 0;
}
