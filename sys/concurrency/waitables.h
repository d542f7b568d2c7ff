#pragma once

// A set of waitables to wait for the first of. One thread owns a set; it is
// not locked. The waitables must outlive their membership.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <boost/noncopyable.hpp>

#include "sys/concurrency/waitable.h"

namespace qv::sys {

class Waitables : private boost::noncopyable {
public:
    // What waitAny answers when nothing was signalled.
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    // The kernel waits for at most this many handles at once.
    static constexpr std::size_t kMaximum = 64;

    Waitables() = default;
    virtual ~Waitables() = default;

    // Appends each handle of `other` in its order; one already here moves to the end.
    void addAll(const Waitables& other);
    // Appends the waitable's handle; if it is here already it moves to the end.
    void add(const IWaitable& waitable);
    void remove(const IWaitable& waitable);
    void clear() { handles_.clear(); }
    std::size_t size() const { return handles_.size(); }

    // The index (in set order) of a signalled member, the lowest when several
    // are; kNone for an empty set (without a kernel call), a time-out or an
    // abandoned mutex. Throws SystemErrorCodeException when the wait fails,
    // as it does for more than kMaximum members.
    std::uint32_t waitAny(std::int64_t timeout);

private:
    void addHandle(void* handle);
    std::vector<void*> handles_;
};

} // namespace qv::sys
