#pragma once

// The lock-free core of the bounded FIFO: a ring of N + 1 slots passed from
// one producer thread to one consumer thread. Portable; Fifo (fifo.h) adds
// the edge flags and the errors.
//
// Threads: exactly one producer (tryAdd) and one consumer (first, tryRemove)
// at a time; isEmpty and isFull from either. The producer writes only the
// write index, the consumer only the read index.

#include <atomic>
#include <cstdint>

namespace qv::sys {

// Transitions that one tryAdd or tryRemove made, as bits.
enum FifoEdge : unsigned {
    kFifoBecameNotEmpty = 1, // a value arrived in an empty FIFO
    kFifoBecameFull = 2,
    kFifoBecameNotFull = 4, // a slot was freed in a full FIFO
    kFifoBecameEmpty = 8,
};

// A full barrier shared by every FIFO of the process: a locked increment of
// one counter. Both sides pass it between their index store and their read
// of the other side's index; read-modify-writes of one variable are totally
// ordered, so of a producer and a consumer crossing at once at least one
// sees the other's new index, and no edge goes unannounced.
inline void fifoFence() {
    static std::atomic<std::uint32_t> counter{0};
    counter.fetch_add(1, std::memory_order_seq_cst);
}

template <typename T, std::uint32_t N, typename S>
class FifoBase {
public:
    static_assert(N > 0, "a FIFO holds at least one value");
    static constexpr std::uint32_t kSlots = N + 1; // one slot always stays free

    FifoBase() : slots_() {}
    FifoBase(const FifoBase&) = delete;
    FifoBase& operator=(const FifoBase&) = delete;

    bool isEmpty() const {
        return read_.load(std::memory_order_acquire) == write_.load(std::memory_order_acquire);
    }
    bool isFull() const {
        return read_.load(std::memory_order_acquire) == next(write_.load(std::memory_order_acquire));
    }

    // Producer. False, changing nothing, when full; otherwise the edges crossed.
    bool tryAdd(const T& value, unsigned& edges) {
        const std::uint32_t write = write_.load(std::memory_order_relaxed);
        if (read_.load(std::memory_order_acquire) == next(write)) {
            return false;
        }
        slots_[write] = value;
        fifoFence();
        write_.store(next(write), std::memory_order_release);
        fifoFence();
        const std::uint32_t read = read_.load(std::memory_order_acquire);
        edges = 0;
        if (next(write) == next(read)) {
            edges |= kFifoBecameNotEmpty;
        }
        if (read == next(next(write))) {
            edges |= kFifoBecameFull;
        }
        return true;
    }

    // Consumer: the oldest value; only while not empty.
    T& first() { return slots_[read_.load(std::memory_order_relaxed)]; }
    const T& first() const { return slots_[read_.load(std::memory_order_relaxed)]; }

    // Consumer. False, changing nothing, when empty; otherwise the oldest
    // value's slot is reset (zeros, null) and the edges crossed are returned.
    bool tryRemove(unsigned& edges) {
        const std::uint32_t read = read_.load(std::memory_order_relaxed);
        if (write_.load(std::memory_order_acquire) == read) {
            return false;
        }
        slots_[read] = T();
        fifoFence();
        read_.store(next(read), std::memory_order_release);
        fifoFence();
        const std::uint32_t write = write_.load(std::memory_order_acquire);
        edges = 0;
        if (next(read) == next(next(write))) {
            edges |= kFifoBecameNotFull;
        }
        if (next(read) == write) {
            edges |= kFifoBecameEmpty;
        }
        return true;
    }

    // The ring's own data, for describing it.
    const void* ringData() const { return this; }

private:
    static std::uint32_t next(std::uint32_t index) { return (index + 1) % kSlots; }

    std::atomic<std::uint32_t> write_{0};
    std::atomic<std::uint32_t> read_{0};
    T slots_[kSlots];
};

} // namespace qv::sys
