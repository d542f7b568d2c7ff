#pragma once

#include <boost/noncopyable.hpp>

namespace qv::sys {

// A Win32 critical section on the heap. Recursive: the owning thread may
// enter again and must leave as often as it entered. Any thread may use it.
class CriticalSection : private boost::noncopyable {
public:
    CriticalSection();
    ~CriticalSection();

    void enter();
    void leave();

private:
    struct Section;    // wraps CRITICAL_SECTION, kept out of this header
    Section* section_; // owned
};

// Holds a critical section for the life of a scope.
class CriticalSectionGuard : private boost::noncopyable {
public:
    explicit CriticalSectionGuard(CriticalSection& section) : section_(section) { section_.enter(); }
    ~CriticalSectionGuard() { section_.leave(); }

private:
    CriticalSection& section_;
};

} // namespace qv::sys
