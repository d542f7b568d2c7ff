#include "tools/log_reader/log_reader.h"

#include "sys/logger/log_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>
#include <thread>
#include <vector>

namespace qv::tools {

LogReader::LogReader(std::ostream& out, std::ostream& errors) : out_(out), errors_(errors) {}

void LogReader::feed(const char* data, std::size_t size) {
    for (const char* end = data + size; data != end;) {
        const char* newline = std::find(data, end, '\n');
        if (!overlong_) {
            const std::size_t take = static_cast<std::size_t>(newline - data);
            if (pending_.size() + take > kMaxLineLength) {
                overlong_ = true;
                pending_.clear();
                pending_.shrink_to_fit();
            } else {
                pending_.append(data, take);
            }
        }
        if (newline == end) {
            return;
        }
        endLine();
        data = newline + 1;
    }
}

void LogReader::finish() {
    if (!pending_.empty() || overlong_) {
        endLine();
    }
}

void LogReader::restart() {
    pending_.clear();
    overlong_ = false;
    lineNumber_ = 0;
}

void LogReader::endLine() {
    ++lineNumber_;
    std::string reason = "longer than " + std::to_string(kMaxLineLength) + " characters";
    if (!overlong_) {
        if (const auto text = decoder_.decipher(pending_, reason)) {
            out_ << *text << '\n';
            pending_.clear();
            return;
        }
    }
    ++skipped_;
    errors_ << "line " << lineNumber_ << ": " << reason << "; skipped\n";
    pending_.clear();
    overlong_ = false;
}

#ifdef _WIN32
SharedLogFile::SharedLogFile(const std::string& path) {
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        failure_ = sys::Logger::systemErrorDescription(GetLastError());
    }
}

SharedLogFile::~SharedLogFile() {
    if (isOpen()) {
        CloseHandle(handle_);
    }
}

bool SharedLogFile::isOpen() const {
    return handle_ != INVALID_HANDLE_VALUE;
}

std::size_t SharedLogFile::read(char* buffer, std::size_t size) {
    DWORD count = 0;
    if (!isOpen() || !ReadFile(handle_, buffer, static_cast<DWORD>(size), &count, nullptr)) {
        failure_ = sys::Logger::systemErrorDescription(GetLastError());
        return 0;
    }
    return count;
}

bool SharedLogFile::seek(std::uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return isOpen() && SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN);
}

std::uint64_t SharedLogFile::size() const {
    LARGE_INTEGER size;
    return isOpen() && GetFileSizeEx(handle_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

namespace {
bool identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information) {
    return GetFileInformationByHandle(handle, &information) != 0;
}
} // namespace

bool SharedLogFile::isAt(const std::string& path) const {
    const SharedLogFile other(path);
    BY_HANDLE_FILE_INFORMATION mine;
    BY_HANDLE_FILE_INFORMATION theirs;
    if (!other.isOpen()) {
        return false;
    }
    if (!identify(handle_, mine) || !identify(other.handle_, theirs)) {
        return true; // a file that cannot be told apart is taken for the same
    }
    return mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
}
#else
SharedLogFile::SharedLogFile(const std::string& path) {
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0) {
        failure_ = sys::Logger::systemErrorDescription(static_cast<std::uint32_t>(errno));
    }
}

SharedLogFile::~SharedLogFile() {
    if (isOpen()) {
        ::close(descriptor_);
    }
}

bool SharedLogFile::isOpen() const {
    return descriptor_ >= 0;
}

std::size_t SharedLogFile::read(char* buffer, std::size_t size) {
    const ssize_t count = isOpen() ? ::read(descriptor_, buffer, size) : -1;
    if (count < 0) {
        failure_ = sys::Logger::systemErrorDescription(static_cast<std::uint32_t>(errno));
        return 0;
    }
    return static_cast<std::size_t>(count);
}

bool SharedLogFile::seek(std::uint64_t offset) {
    return isOpen() && ::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::uint64_t SharedLogFile::size() const {
    struct stat information;
    return isOpen() && fstat(descriptor_, &information) == 0 ? static_cast<std::uint64_t>(information.st_size)
                                                             : 0;
}

bool SharedLogFile::isAt(const std::string& path) const {
    struct stat mine;
    struct stat theirs;
    if (::stat(path.c_str(), &theirs) != 0) {
        return false;
    }
    return fstat(descriptor_, &mine) != 0 || (mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino);
}
#endif

LogFollower::LogFollower(std::string path, LogReader& reader, std::ostream& errors)
    : path_(std::move(path)), reader_(reader), errors_(errors) {}

LogFollower::~LogFollower() = default;

void LogFollower::readOn() {
    if (file_->size() < offset_) {
        errors_ << path_ << ": the file was cut short; reading it from its start\n";
        reader_.finish();
        reader_.restart();
        offset_ = 0;
        file_->seek(0);
    }
    std::vector<char> buffer(64 * 1024);
    while (const std::size_t count = file_->read(buffer.data(), buffer.size())) {
        reader_.feed(buffer.data(), count);
        offset_ += count;
    }
}

bool LogFollower::poll() {
    if (file_) {
        readOn();
        if (file_->isAt(path_)) {
            return true;
        }
        // Moved aside or deleted: what the writer added before it let go of
        // the file is read first, and a line it left unfinished ends there.
        readOn();
        reader_.finish();
        file_.reset();
    }
    auto file = std::make_unique<SharedLogFile>(path_);
    if (!file->isOpen()) {
        failure_ = file->failure();
        return false;
    }
    if (followed_) {
        errors_ << path_ << ": a new file; reading it from its start\n";
        reader_.restart();
    }
    followed_ = true;
    offset_ = 0;
    file_ = std::move(file);
    readOn();
    return true;
}

namespace {
constexpr char kUsage[] = "usage: qv_log_reader [--follow] [FILE | -]\n"
                          "Deciphers a QuorvaneAnalytics log (a file, or standard input when no FILE or -\n"
                          "is given) and prints its plain lines. Lines that do not decipher are reported\n"
                          "on standard error with their line number and skipped. --follow keeps reading\n"
                          "the file as it grows and across rotations (the rest of a moved file\n"
                          "first), until interrupted.\n";

void readAll(std::istream& in, LogReader& reader) {
    std::vector<char> buffer(64 * 1024);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        reader.feed(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    reader.finish();
}
} // namespace

int runLogReader(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& errors,
                 std::size_t followPolls) {
    bool follow = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--follow" || argument == "-f") {
            follow = true;
        } else if (argument == "--help" || argument == "-h") {
            out << kUsage;
            return 0;
        } else if (path.empty() && (argument == "-" || argument.empty() || argument[0] != '-')) {
            path = argument;
        } else {
            errors << "qv_log_reader: unexpected argument \"" << argument << "\"\n" << kUsage;
            return 2;
        }
    }
    LogReader reader(out, errors);
    if (path.empty() || path == "-") {
        if (follow) {
            errors << "qv_log_reader: --follow needs a file\n";
            return 2;
        }
        readAll(in, reader);
    } else if (!follow) {
        SharedLogFile file(path);
        if (!file.isOpen()) {
            errors << "qv_log_reader: cannot open " << path << ": " << file.failure() << '\n';
            return 2;
        }
        std::vector<char> buffer(64 * 1024);
        while (const std::size_t count = file.read(buffer.data(), buffer.size())) {
            reader.feed(buffer.data(), count);
        }
        reader.finish();
        if (!file.failure().empty()) {
            errors << "qv_log_reader: reading " << path << " failed: " << file.failure() << '\n';
            out.flush();
            return 2;
        }
    } else {
        LogFollower follower(path, reader, errors);
        if (!follower.poll()) {
            errors << "qv_log_reader: cannot open " << path << ": " << follower.failure() << '\n';
            return 2;
        }
        for (std::size_t polls = 1; followPolls == 0 || polls < followPolls; ++polls) {
            out.flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            follower.poll(); // a file moved aside for a moment is looked for again
        }
    }
    out.flush();
    return reader.skipped() == 0 ? 0 : 1;
}

} // namespace qv::tools
