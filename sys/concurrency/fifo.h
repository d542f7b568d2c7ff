#pragma once

// The bounded FIFO between one producer thread and one consumer thread,
// without a lock on the hot path (the core is FifoBase). Four auto-reset
// flags announce edges, not levels: became full, became empty, left full
// (not-full), left empty (not-empty). A waiter that wakes rechecks
// isEmpty() or isFull(), since a flag may have been set for an earlier edge.
//
// Threads: one producer calls Add, one consumer calls getFirst and Remove;
// any thread may ask isEmpty and isFull and wait on the flags.

#include <cstdint>

#include "sys/concurrency/fifo_base.h"
#include "sys/concurrency/flag.h"
#include "sys/concurrency/squasher.h"
#include "sys/errors/exception.h"

namespace qv::sys {

struct FifoDescriptor {
    const void* ring;       // the index pair and storage
    std::uint32_t capacity; // N
    void* fullEvent;        // kernel event handle of the full flag
    void* notEmptyEvent;    // kernel event handle of the not-empty flag
};

// The producer's face of a FIFO.
template <typename T>
class FifoWriter : public ISecurableObject {
public:
    ~FifoWriter() override = default;
    // Applies the entry to the events of all four flags; true only if all took it.
    bool setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) override = 0;
    // Appends a copy; throws InternalError, changing nothing, when full.
    virtual void Add(const T& value) = 0;
    virtual IWaitable& emptyFlag() = 0;
    virtual IWaitable& notFullFlag() = 0;
    virtual FifoDescriptor describe() const = 0;
    virtual bool isEmpty() const = 0;
    virtual bool isFull() const = 0;
};

// The consumer's operations. Each failure throws InternalError and changes nothing.
template <typename T, std::uint32_t N, typename S>
class FifoReader : protected FifoBase<T, N, S> {
public:
    bool isEmpty() const { return FifoBase<T, N, S>::isEmpty(); }

    T& getFirst() {
        if (isEmpty()) {
            throw InternalError("Attempt to read empty fifo in Fifo::getFirst()", SystemErrorCode(0));
        }
        return this->first();
    }

    const T& getFirst() const {
        if (isEmpty()) {
            throw InternalError("Attempt to read empty fifo in Fifo::getFirst() const", SystemErrorCode(0));
        }
        return this->first();
    }

    void Remove() {
        unsigned edges = 0;
        if (!this->tryRemove(edges)) {
            throw InternalError("Attempt to remove an element from an already empty fifo in Fifo::Remove()",
                                SystemErrorCode(0));
        }
        if (edges & kFifoBecameNotFull) {
            notFull_.set();
        }
        if (edges & kFifoBecameEmpty) {
            empty_.set();
        }
    }

protected:
    FifoReader() : full_(false), empty_(false), notFull_(false), notEmpty_(false) {}

    AutoFlag full_;
    AutoFlag empty_;
    AutoFlag notFull_;
    AutoFlag notEmpty_;
};

template <typename T, std::uint32_t N, typename S = NullSquasher<T>>
class Fifo : public FifoReader<T, N, S>, public FifoWriter<T> {
public:
    Fifo() = default;

    bool setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) override {
        bool all = this->empty_.setAccess(trustee, allow, rights);
        all = this->full_.setAccess(trustee, allow, rights) && all;
        all = this->notEmpty_.setAccess(trustee, allow, rights) && all;
        all = this->notFull_.setAccess(trustee, allow, rights) && all;
        return all;
    }

    void Add(const T& value) override {
        unsigned edges = 0;
        if (!this->tryAdd(value, edges)) {
            throw InternalError("Attempt to add to an already full fifo in Fifo::Add()", SystemErrorCode(0));
        }
        if (edges & kFifoBecameNotEmpty) {
            this->notEmpty_.set();
        }
        if (edges & kFifoBecameFull) {
            this->full_.set();
        }
    }

    IWaitable& emptyFlag() override { return this->empty_; }
    IWaitable& notFullFlag() override { return this->notFull_; }
    // The consumer's flags, and the producer's.
    IWaitable& notEmptyFlag() { return this->notEmpty_; }
    IWaitable& fullFlag() { return this->full_; }

    FifoDescriptor describe() const override {
        return FifoDescriptor{this->ringData(), N, this->full_.getHandle(), this->notEmpty_.getHandle()};
    }

    bool isEmpty() const override { return FifoReader<T, N, S>::isEmpty(); }
    bool isFull() const override { return FifoBase<T, N, S>::isFull(); }

private:
    S squasher_;
};

} // namespace qv::sys
