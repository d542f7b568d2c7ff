#pragma once

#include <string>

namespace qv::sys {

// The name and instance id an object shows in the log. A virtual base of
// every class that logs, so the most-derived class may name it first:
//   class Worker : public virtual Logger::Logged { Worker() : Identity("Worker") {} };
// Both strings are kept sanitised: every character outside a-z, A-Z, 0-9 and
// '_' becomes '_'. Not copyable: a copy would carry another object's address.
class Identity {
public:
    // The instance id starts as this object's address in 16 upper-case hex digits.
    explicit Identity(const std::string& name = std::string());
    Identity(const Identity&) = delete;
    Identity& operator=(const Identity&) = delete;
    virtual ~Identity();

    const std::string& name() const { return name_; }
    const std::string& instanceId() const { return instanceId_; }
    void setName(const std::string& name);
    void setInstanceId(const std::string& instanceId);

    static std::string sanitise(const std::string& text);

private:
    std::string name_;
    std::string instanceId_;
};

} // namespace qv::sys
