#pragma once

// Where a dump may go and how its file is made, for a process that may run
// with more rights than the users who can reach the folders it writes to: a
// dump holds the whole memory of the process.

#include <functional>
#include <string>

#include "sys/win32/account.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys {

// The owner of a candidate folder, opened with READ_CONTROL without following
// links. The system's lookup is win32::fileOwner; tests give their own, since
// an ordinary user's folder cannot be made everywhere.
using FolderOwnerLookup = std::function<win32::Sid(void* folder)>;

// A folder a dump may be created in: it exists, files may be added to it, it
// is no link (junction or symbolic link), and SYSTEM, the administrators or
// the process's own account owns it. A folder that an ordinary user made is
// theirs to read, or to turn into a link.
bool usableDumpFolder(const std::string& directory, const FolderOwnerLookup& ownerOf);

// debugLocation (structured_exception.h) with the owner lookup given.
std::string debugLocation(bool preferTemp, const FolderOwnerLookup& ownerOf);

struct DumpFile {
    win32::UniqueHandle file;
    unsigned long error = 0; // the Win32 error when there is no file
};

// A new file at `path`, open for reading and writing without sharing, that
// only SYSTEM, the administrators and the process's own account may open.
// Whatever had the name before (an earlier dump, a link to another file) is
// removed, never followed.
DumpFile createDumpFile(const std::string& path);

} // namespace qv::sys
