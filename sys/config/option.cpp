#include "sys/config/option.h"

#include "sys/config/leading_number.h"

#include <cstdlib>

#include "sys/config/settings_report.h"

namespace qv::sys::option {

namespace {

// The value argument, or nothing (and no argument used) when there is none.
const char* valueArgument(int& count, const char* const* arguments) {
    if (count < 2 || arguments[1] == nullptr) {
        count = 0;
        return nullptr;
    }
    count = 2;
    return arguments[1];
}

} // namespace

// --- SingleOption ---

void SingleOption::load(DataStore& store, const std::string& key) {
    const StoreValue stored = store.read(key);
    if (stored.source == kSourceNone) {
        return;
    }
    const std::string problem = assignStoreText(stored.text);
    if (!problem.empty()) {
        detail::reportOption("\"" + key + "\" in " + detail::sourceText(stored.source) + ": " + problem +
                             "; keeping \"" + valueText() + "\"");
        return;
    }
    source_ = stored.source;
}

void SingleOption::save(DataStore& store, const std::string& key) const {
    store.write(key, valueText(), source_);
}

// --- Bool ---

Bool::Bool(const std::string& name, bool defaultValue, const std::string& description)
    : SingleOption(name, description, std::string()), value_(defaultValue) {}

void Bool::parse(int& count, const char* const* arguments) {
    if (const char* text = valueArgument(count, arguments)) {
        value_ = beginsWithYes(text) || leadingNumber(text).nonZero;
        source_ = kSourceArguments;
    }
}

std::string Bool::assignStoreText(const std::string& text) {
    if (text.empty()) {
        return "empty value";
    }
    value_ = beginsWithYes(text) || leadingNumber(text).nonZero;
    return std::string();
}

// --- Int ---

Int::Int(const std::string& name, std::int32_t defaultValue, const std::string& description,
         const std::string& argumentName)
    : SingleOption(name, description, argumentName), value_(defaultValue) {}

void Int::parse(int& count, const char* const* arguments) {
    if (const char* text = valueArgument(count, arguments)) {
        // strtoll holds an overlong number at its limit instead of overflowing.
        const long long number = std::strtoll(text, nullptr, 0);
        value_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
        source_ = kSourceArguments;
    }
}

std::string Int::assignStoreText(const std::string& text) {
    const LeadingNumber number = leadingNumber(text);
    if (!number.found) {
        return text.empty() ? "empty value" : "not a number";
    }
    if (!number.fits<std::int32_t>()) {
        return "number out of range";
    }
    value_ = static_cast<std::int32_t>(number.value);
    return std::string();
}

// --- String ---

String::String(const std::string& name, const std::string& defaultValue, const std::string& description,
               const std::string& argumentName)
    : SingleOption(name, description, argumentName), value_(defaultValue) {}

void String::parse(int& count, const char* const* arguments) {
    const int available = count;
    const char* first = valueArgument(count, arguments);
    if (first == nullptr) {
        return;
    }
    std::string text = first;
    if (!text.empty() && text.front() == '"') {
        // The opening quote cannot also be the closing one.
        bool closed = text.size() >= 2 && text.back() == '"';
        while (!closed && count < available && arguments[count] != nullptr) {
            const std::string next = arguments[count++];
            text += ' ' + next;
            closed = !next.empty() && next.back() == '"';
        }
        text.erase(0, 1);
        if (closed) {
            text.pop_back();
        }
    }
    value_ = text;
    source_ = kSourceArguments;
}

std::string String::assignStoreText(const std::string& text) {
    if (text.empty()) {
        return "empty value";
    }
    value_ = text;
    return std::string();
}

} // namespace qv::sys::option
