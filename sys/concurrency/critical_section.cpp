#include "sys/concurrency/critical_section.h"

#include <windows.h>

namespace qv::sys {

struct CriticalSection::Section {
    CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : section_(new Section) {
    // Cannot fail since Windows Vista.
    InitializeCriticalSection(&section_->section);
}

CriticalSection::~CriticalSection() {
    if (section_ == nullptr) {
        return;
    }
    DeleteCriticalSection(&section_->section);
    delete section_;
}

void CriticalSection::enter() {
    EnterCriticalSection(&section_->section);
}

void CriticalSection::leave() {
    LeaveCriticalSection(&section_->section);
}

} // namespace qv::sys
