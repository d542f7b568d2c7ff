#include "sys/win32/library.h"

#include <windows.h>

namespace qv::sys::win32 {

Library::Library(const std::string& fileName) : module_(LoadLibraryExA(fileName.c_str(), nullptr, 0)) {}

Library::~Library() {
    if (module_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module_));
    }
}

void* Library::getProcAddress(const char* name) const {
    if (module_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), name));
}

} // namespace qv::sys::win32
