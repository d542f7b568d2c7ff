#pragma once

#include <boost/noncopyable.hpp>

#include "sys/logger/identity.h"

namespace qv::sys {

// Work that a command invoker runs on its engine thread (CommandInvoker::Controller::invoke).
class Command : public virtual Identity, private boost::noncopyable {
public:
    virtual void execute() = 0;
};

} // namespace qv::sys
