#include "app/module_path.h"

#include "sys/errors/exception.h"

#include <windows.h>

namespace qv::telemetry {

namespace {

constexpr DWORD moduleBufferSize = 522;
constexpr std::size_t maxPath = 260;
constexpr std::size_t maxDrive = 2; // "C:"; a UNC path has none
constexpr std::size_t maxDirectory = 255;
constexpr std::uint64_t fileNameTooLong = 206;

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring joinModulePath(const std::wstring& module, const std::wstring& fileName) {
    if (fileName.empty()) {
        return module;
    }
    std::wstring drive;
    std::size_t rest = 0;
    if (module.size() >= 2 && module[1] == L':') {
        drive = module.substr(0, 2);
        rest = 2;
    }
    std::size_t end = module.size();
    while (end > rest && !isSeparator(module[end - 1])) {
        --end;
    }
    std::wstring directory = module.substr(rest, end - rest);
    if (drive.size() > maxDrive || directory.size() > maxDirectory ||
        drive.size() + directory.size() + fileName.size() > maxPath) {
        throw sys::SystemError(1, sys::SystemErrorCode(fileNameTooLong));
    }
    if (!directory.empty() && !isSeparator(directory.back())) {
        directory.push_back(L'\\');
    }
    return drive + directory + fileName;
}

std::wstring modulePath(const std::wstring& fileName) {
    wchar_t buffer[moduleBufferSize] = {};
    const DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), buffer, moduleBufferSize);
    const DWORD error = GetLastError();
    if (length == 0) {
        throw sys::SystemError(1, sys::SystemErrorCode(error));
    }
    if (length >= moduleBufferSize) {
        // Cut short: the path is of no use.
        throw sys::SystemError(1, sys::SystemErrorCode(fileNameTooLong));
    }
    return joinModulePath(std::wstring(buffer, length), fileName);
}

} // namespace qv::telemetry
