// Reports windowsVersionCode() as its exit status, for tests that must start
// a fresh process to see another Windows version.
#include "sys/config/registry_key_reader.h"

int main() {
    return static_cast<int>(qv::sys::win32::windowsVersionCode());
}
