#pragma once

// Names and housekeeping of log files: the ".old" file of a rotated log and
// the time-stamped names of decorated logs. Both separators, '\' and '/',
// end a directory; the extension is looked for in the file name only.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qv::sys::Logger {

// "dir\app.log" gives "dir\app" and ".log"; no dot in the file name gives no extension.
struct SplitPath {
    std::string stem;
    std::string extension;
};
SplitPath splitExtension(const std::string& path);

// "dir\app.log" gives "dir\app.old.log"; "dir\app" gives "dir\app.old".
std::string oldLogName(const std::string& path);

// "dir\app.log" opened at 09:15:00 on 5 March 2024 (local time) gives "dir\app20240305-091500.log".
std::string decoratedLogName(const std::string& path, std::time_t when);

// Deletes the oldest decorated logs of `path` so that at most `keep` remain
// besides `current`, the file just opened, which is never deleted (that makes
// keep + 1). Nothing happens for keep 0. Age is the time of the last write,
// not the name: after the clock went back, a newer file has an older name.
void pruneDecoratedLogs(const std::string& path, const std::string& current, std::size_t keep);

struct FileEntry {
    std::string name;
    std::int64_t modified; // the last write, in the platform's units
};

// The entries of `directory` (the current directory when empty) that are not
// directories; none when it cannot be listed.
std::vector<FileEntry> listFiles(const std::string& directory);

// Whether two paths name one file as far as their text tells: on Windows
// letter case and '/' against '\' make no difference.
bool sameLogPath(const std::string& a, const std::string& b);

// Whether `name` is stem + a time stamp "YYYYmmdd-HHMMSS" + extension, as the
// decorated logs of that stem are (letter case ignored on Windows, as its
// file names do).
bool isDecoratedName(const std::string& name, const std::string& stem, const std::string& extension);

} // namespace qv::sys::Logger
