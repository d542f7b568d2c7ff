#pragma once

// Squasher policies of the FIFOs: whether a value about to be queued could be
// merged with the newest queued one. No FIFO operation asks it yet.

namespace qv::sys {

template <typename T>
class Squasher {
public:
    virtual ~Squasher() = default;
    // True when `incoming` may replace `newest` instead of taking a slot of its own.
    virtual bool canSquash(const T& newest, const T& incoming) const = 0;
};

// Never merges.
template <typename T>
class NullSquasher : private Squasher<T> {
public:
    bool canSquash(const T&, const T&) const override { return false; }
};

} // namespace qv::sys
