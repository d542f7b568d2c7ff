#include "sys/concurrency/waitable.h"

#include <windows.h>

namespace qv::sys {

Waitable::~Waitable() = default;

void* Waitable::getHandle() const {
    return state_->handle();
}

bool Waitable::wait(std::int64_t timeout) {
    return WaitForSingleObject(state_->handle(), waitMilliseconds(timeout)) == WAIT_OBJECT_0;
}

} // namespace qv::sys
