#pragma once

// Typed settings. Each option has a name, a description, an argument name,
// a value and where the value came from. An option takes its value from an
// argument list in command-line form or loads it from a data store; this
// program only loads them, from the registry (registry_data_store.h).
//
// Options are values: construct with the default, load once, then read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::sys::option {

// Where a value came from.
using Source = std::uint32_t;
constexpr Source kSourceNone = 0; // a store's answer for an absent key; never an option's
constexpr Source kSourceDefault = 1;
constexpr Source kSourceMachine = 2;
constexpr Source kSourceUser = 3;
constexpr Source kSourceArguments = 4;

// A store's answer: the text of a key and where it was found.
struct StoreValue {
    Source source = kSourceNone;
    std::string text;
};

class DataStore {
public:
    // The store of the subkey `name`, made on first request and owned by this
    // store; null when there is no such subkey and `create` is false.
    virtual DataStore* child(const std::string& name, bool create) = 0;
    virtual ~DataStore() = default;
    // Takes the store's snapshots again.
    virtual void reload() = 0;
    virtual std::vector<std::string> valueNames() const = 0;
    virtual std::vector<std::string> childNames() const = 0;
    // Source kSourceNone when the key is absent or cannot be used.
    virtual StoreValue read(const std::string& key) const = 0;
    // Keeps the text for `key` under `source`; flush() makes it permanent.
    virtual void write(const std::string& key, const std::string& text, Source source) = 0;
    virtual void flush() = 0;
};

class Option {
public:
    virtual ~Option() = default;

    virtual std::unique_ptr<Option> clone() const = 0;
    // Takes the option from an argument list in command-line form:
    // arguments[0] is the option itself, arguments[1] its value. `count` is
    // the number of arguments from the option on; it becomes the number used.
    virtual void parse(int& count, const char* const* arguments) = 0;
    virtual std::string valueText() const = 0;
    // load(store, name()).
    virtual void load(DataStore& store) = 0;
    // Takes the value of `key` when the store has one that fits; otherwise
    // the option keeps its value and a record says why the stored one was not taken.
    virtual void load(DataStore& store, const std::string& key) = 0;
    virtual void save(DataStore& store) const = 0;
    virtual void save(DataStore& store, const std::string& key) const = 0;

    const std::string& name() const { return name_; }
    const std::string& description() const { return description_; }
    const std::string& argumentName() const { return argumentName_; }
    Source source() const { return source_; }

protected:
    Option(std::string name, std::string description, std::string argumentName)
        : name_(std::move(name)), description_(std::move(description)),
          argumentName_(std::move(argumentName)) {}
    Option(const Option&) = default;
    Option& operator=(const Option&) = default;

    std::string name_;
    std::string description_;
    std::string argumentName_;
    Source source_ = kSourceDefault;
};

// An option with one value of its own.
class SingleOption : public Option {
public:
    void load(DataStore& store) override { load(store, name()); }
    void load(DataStore& store, const std::string& key) override;
    void save(DataStore& store) const override { save(store, name()); }
    void save(DataStore& store, const std::string& key) const override;

protected:
    using Option::Option;

    // Takes a store's text as the value. When the text cannot stand for a
    // value, leaves the value alone and returns why.
    virtual std::string assignStoreText(const std::string& text) = 0;
};

// True for a text that begins with T, Y, t or y, else for a leading decimal
// number other than 0 ("no" is false).
class Bool : public SingleOption {
public:
    Bool(const std::string& name, bool defaultValue, const std::string& description);

    bool value() const { return value_; }

    std::unique_ptr<Option> clone() const override { return std::make_unique<Bool>(*this); }
    void parse(int& count, const char* const* arguments) override;
    std::string valueText() const override { return value_ ? "true" : "false"; }

protected:
    std::string assignStoreText(const std::string& text) override;

private:
    bool value_;
};

// Arguments are read with automatic base (0x.. hexadecimal, 0.. octal) and cut
// to 32 bits; stored texts are decimal ("0x10" is 0, "010" is 10) and must fit.
class Int : public SingleOption {
public:
    Int(const std::string& name, std::int32_t defaultValue, const std::string& description,
        const std::string& argumentName);

    std::int32_t value() const { return value_; }

    std::unique_ptr<Option> clone() const override { return std::make_unique<Int>(*this); }
    void parse(int& count, const char* const* arguments) override;
    std::string valueText() const override { return std::to_string(value_); }

protected:
    std::string assignStoreText(const std::string& text) override;

private:
    std::int32_t value_;
};

// An argument that opens a double quote runs on over the following arguments
// (joined by blanks) to the one that closes it; the quotes are dropped.
class String : public SingleOption {
public:
    String(const std::string& name, const std::string& defaultValue, const std::string& description,
           const std::string& argumentName);

    const std::string& value() const { return value_; }

    std::unique_ptr<Option> clone() const override { return std::make_unique<String>(*this); }
    void parse(int& count, const char* const* arguments) override;
    std::string valueText() const override { return value_; }

protected:
    std::string assignStoreText(const std::string& text) override;

private:
    std::string value_;
};

} // namespace qv::sys::option
