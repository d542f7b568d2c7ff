#include "tools/log_reader/log_reader.h"

#include <algorithm>
#include <chrono>
#include <fstream>
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

LogFollower::LogFollower(std::string path, LogReader& reader, std::ostream& errors)
    : path_(std::move(path)), reader_(reader), errors_(errors) {}

bool LogFollower::poll() {
    std::ifstream file(path_, std::ios::binary);
    if (!file.is_open()) {
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0) {
        return false;
    }
    if (static_cast<std::uint64_t>(size) < offset_) {
        errors_ << path_ << ": a new file; reading it from its start\n";
        reader_.restart();
        offset_ = 0;
    }
    file.seekg(static_cast<std::streamoff>(offset_));
    std::vector<char> buffer(64 * 1024);
    while (file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || file.gcount() > 0) {
        const auto count = static_cast<std::size_t>(file.gcount());
        reader_.feed(buffer.data(), count);
        offset_ += count;
    }
    return true;
}

namespace {
constexpr char kUsage[] = "usage: qv_log_reader [--follow] [FILE | -]\n"
                          "Deciphers a QuorvaneAnalytics log (a file, or standard input when no FILE or -\n"
                          "is given) and prints its plain lines. Lines that do not decipher are reported\n"
                          "on standard error with their line number and skipped. --follow keeps reading\n"
                          "the file as it grows, until interrupted.\n";

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
        std::ifstream file(path, std::ios::binary);
        if (!file.is_open()) {
            errors << "qv_log_reader: cannot open " << path << '\n';
            return 2;
        }
        readAll(file, reader);
    } else {
        LogFollower follower(path, reader, errors);
        if (!follower.poll()) {
            errors << "qv_log_reader: cannot open " << path << '\n';
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
