#include "tools/dump_reader/symbolizer.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tools/dump_reader/bytes.h"

extern char** environ;

namespace qv::dump {

std::map<std::uint64_t, Symbolized> parseAddr2lineOutput(const std::string& output) {
    std::map<std::uint64_t, Symbolized> result;
    std::istringstream lines(output);
    std::string line, place;
    Symbolized* current = nullptr;
    while (std::getline(lines, line)) {
        if (line.rfind("0x", 0) == 0) {
            current = &result[std::strtoull(line.c_str(), nullptr, 16)];
        } else if (current != nullptr && std::getline(lines, place)) {
            // addr2line appends " (discriminator N)" to some places.
            place.resize(std::min(place.size(), place.find(" (discriminator")));
            current->push_back({line, place});
        }
    }
    return result;
}

std::map<std::uint32_t, Symbolized> symbolize(const std::string& path, std::uint64_t imageBase,
                                              const std::vector<std::uint32_t>& rvas, std::string& error) {
    const char* configured = std::getenv("QV_ADDR2LINE");
    const std::string tool = configured != nullptr ? configured : "x86_64-w64-mingw32-addr2line";
    std::vector<std::string> arguments{tool, "-a", "-f", "-C", "-i", "-e", path};
    for (std::uint32_t rva : rvas) {
        arguments.push_back(hex(imageBase + rva));
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        error = "cannot run " + tool +
                (spawned != 0 ? std::string(": ") + std::strerror(spawned) : std::string());
        return {};
    }
    std::map<std::uint32_t, Symbolized> byRva;
    for (auto& [address, locations] : parseAddr2lineOutput(output)) {
        byRva[static_cast<std::uint32_t>(address - imageBase)] = std::move(locations);
    }
    return byRva;
}

} // namespace qv::dump
