#pragma once

// Dynamic libraries loaded at run time, for functions that not every
// supported Windows version exports.

#include <string>

#include <boost/noncopyable.hpp>

namespace qv::sys::win32 {

class ILibrary : private boost::noncopyable {
public:
    virtual ~ILibrary() = default;
    // The address of an exported function, or null.
    virtual void* getProcAddress(const char* name) const = 0;
};

// Owns one module reference, taken at construction and given back at destruction.
class Library : public ILibrary {
public:
    explicit Library(const std::string& fileName);
    ~Library() override;

    void* getProcAddress(const char* name) const override;

    // Whether the module was loaded.
    explicit operator bool() const { return module_ != nullptr; }

private:
    void* module_; // HMODULE
};

} // namespace qv::sys::win32
