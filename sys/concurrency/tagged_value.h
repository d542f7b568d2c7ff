#pragma once

// Heap values that say what they hold by an integer tag, so that one FIFO can
// carry values of several types.

#include <cstdint>

#include <boost/noncopyable.hpp>

namespace qv::sys {

class ITaggedValue : private boost::noncopyable {
public:
    virtual ~ITaggedValue() = default;
    virtual std::int32_t tag() const = 0;
};

template <typename V, std::int32_t Tag>
class TaggedValue : public ITaggedValue {
public:
    static constexpr std::int32_t kTag = Tag;

    explicit TaggedValue(const V& value) : value_(value) {}
    std::int32_t tag() const override { return Tag; }
    const V& value() const { return value_; }

private:
    V value_;
};

} // namespace qv::sys
