#include "sys/concurrency/waitables.h"

#include <algorithm>

#include <windows.h>

#include "sys/concurrency/invariant.h"
#include "sys/errors/exception.h"

namespace qv::sys {

void Waitables::addHandle(void* handle) {
    const auto found = std::find(handles_.begin(), handles_.end(), handle);
    if (found != handles_.end()) {
        handles_.erase(found);
    }
    handles_.push_back(handle);
}

void Waitables::addAll(const Waitables& other) {
    // A copy, so that adding a set to itself is well defined.
    const std::vector<void*> handles = other.handles_;
    for (void* handle : handles) {
        addHandle(handle);
    }
}

void Waitables::add(const IWaitable& waitable) {
    addHandle(waitable.getHandle());
}

void Waitables::remove(const IWaitable& waitable) {
    const auto found = std::find(handles_.begin(), handles_.end(), waitable.getHandle());
    if (found != handles_.end()) {
        handles_.erase(found);
    }
}

std::uint32_t Waitables::waitAny(std::int64_t timeout) {
    if (handles_.empty()) {
        return kNone;
    }
    if (handles_.size() > kMaximum) {
        reportInvariantFailure("handles_.size() <= MAXIMUM_WAIT_OBJECTS",
                               std::to_string(handles_.size()) + " <= " + std::to_string(kMaximum), __FILE__,
                               __LINE__);
    }
    const auto count = static_cast<DWORD>(handles_.size());
    const DWORD result = WaitForMultipleObjects(count, handles_.data(), FALSE, waitMilliseconds(timeout));
    if (result == WAIT_FAILED) {
        throw SystemErrorCodeException(GetLastError());
    }
    return result - WAIT_OBJECT_0 < count ? result - WAIT_OBJECT_0 : kNone;
}

} // namespace qv::sys
