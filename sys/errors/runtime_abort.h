#pragma once

// The runtime's abort behaviour: whether abort() writes its message and asks
// for a fault report.

namespace qv::sys {

constexpr unsigned int kAbortWriteMessage = 0x1;
constexpr unsigned int kAbortReportFault = 0x2;

// Sets the bits of `mask` to those of `flags`, leaving the others alone;
// false when the runtime has no such setting.
bool setAbortBehaviour(unsigned int flags, unsigned int mask);

// The flags as setAbortBehaviour last left them, also where the runtime has
// no such setting: what a test can see of them.
unsigned int requestedAbortBehaviour();

} // namespace qv::sys
