#pragma once

// A scratch folder for log files, and their lines deciphered.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/log_cipher.h"

namespace qv::sys::Logger::testing {

class ScratchFolder {
public:
    ScratchFolder() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() / ("qv_log_test_" + std::to_string(stamp));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // `name` inside the folder, with the platform's separator.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // The folder itself, ending in a separator as the settings write folders.
    std::string directory() const { return *this / ""; }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            result.push_back(entry.path().filename().string());
        }
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    std::filesystem::path path_;
};

// The plain lines of a log file; a line that does not decipher fails the
// test, or reads "?" where damaged lines are expected.
inline std::vector<std::string> readLog(const std::string& path, bool damagedExpected = false) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << path;
    const LogLineDecoder decoder;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        std::string reason;
        const auto text = decoder.decipher(line, reason);
        EXPECT_TRUE(text || damagedExpected) << path << ": " << reason;
        lines.push_back(text.value_or("?"));
    }
    return lines;
}

// The text at the end of a plain decorated or short line.
inline std::string textOf(const std::string& line) {
    const std::size_t tab = line.rfind('\t');
    return tab == std::string::npos ? line.substr(line.find("] ") + 2) : line.substr(tab + 1);
}

} // namespace qv::sys::Logger::testing
