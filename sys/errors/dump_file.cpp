#include "sys/errors/dump_file.h"

#include <windows.h>

#include <sddl.h>

#include "sys/win32/local_memory.h"

namespace qv::sys {

namespace {

// Neither a reparse point (junction, symbolic link) nor one of several names of a file.
bool plainEntry(HANDLE handle, DWORD wantedType) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == wantedType &&
           (wantedType != 0 || info.nNumberOfLinks == 1);
}

} // namespace

bool usableDumpFolder(const std::string& directory, const FolderOwnerLookup& ownerOf) {
    if (directory.empty()) {
        return false;
    }
    const win32::UniqueHandle folder(CreateFileA(
        directory.c_str(), FILE_ADD_FILE | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL,
        nullptr));
    return folder && plainEntry(folder.get(), FILE_ATTRIBUTE_DIRECTORY) &&
           win32::isTrustedOwner(ownerOf(folder.get()), win32::processAccount());
}

DumpFile createDumpFile(const std::string& path) {
    DumpFile result;
    std::string access = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
    const win32::Sid self = win32::processAccount();
    if (!self.empty()) {
        access += "(A;;FA;;;" + win32::sidText(self) + ")";
    }
    win32::UniqueLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(access.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                              nullptr)) {
        result.error = GetLastError();
        return result;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Only a file made here has the access list above: an existing one
        // keeps its own, and its owner may grant himself access at any time.
        result.file.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (result.file) {
            if (plainEntry(result.file.get(), 0)) {
                return result;
            }
            result.file.reset();
            result.error = ERROR_CANT_ACCESS_FILE;
            return result;
        }
        result.error = GetLastError();
        if (result.error != ERROR_FILE_EXISTS && result.error != ERROR_ALREADY_EXISTS) {
            return result;
        }
        // An earlier dump, or a link that would carry the dump into another
        // file: DeleteFile removes the name itself, never what it points to.
        if (!DeleteFileA(path.c_str())) {
            result.error = GetLastError();
            return result;
        }
    }
    return result;
}

} // namespace qv::sys
