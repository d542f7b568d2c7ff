// Waits until a named pipe exists with a free instance, for the agent's
// end-to-end test, which cannot see Windows pipes from the host side.
//   wait_for_pipe NAME MS    exit 0 once \\.\pipe\NAME exists, 1 after MS ms
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    const std::string full = std::string("\\\\.\\pipe\\") + argv[1];
    const DWORD limit = std::strtoul(argv[2], nullptr, 10);
    for (const DWORD start = GetTickCount(); GetTickCount() - start < limit; Sleep(20)) {
        if (WaitNamedPipeA(full.c_str(), 1)) {
            return 0;
        }
    }
    return 1;
}
