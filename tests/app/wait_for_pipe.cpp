// wait_for_pipe NAME: exit 0 once \\.\pipe\NAME exists, 1 after 30 s. The
// agent's end-to-end test cannot see Windows pipes from the host side.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    const std::string full = std::string("\\\\.\\pipe\\") + (argc > 1 ? argv[1] : "");
    for (int i = 0; i < 1500 && !WaitNamedPipeA(full.c_str(), 1); ++i) {
        Sleep(20);
    }
    return WaitNamedPipeA(full.c_str(), 1) ? 0 : 1;
}
