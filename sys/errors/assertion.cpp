#include "sys/errors/assertion.h"

#include <cstdlib>
#include <vector>

#include "sys/config/program_options.h"
#include "sys/errors/exception.h"
#include "sys/errors/runtime_abort.h"
#include "sys/errors/structured_exception.h"
#include "sys/logger/logger.h"

namespace qv::sys {

namespace {

class AssertLogger : public IAssertFailureHandler, public virtual Logger::Logged {
public:
    AssertLogger() : Logged("AssertLogger", "") {}
    void failed(const std::wstring& description, const std::wstring& file, std::uint32_t line) override {
        QV_LOG(Logger::kError) << "Assertion failed: " << narrowText(description) << " at line " << line
                               << " of " << narrowText(file);
    }
    void failedAt(const std::wstring& file, std::uint32_t line) override {
        QV_LOG(Logger::kError) << "Assertion failed at line " << line << " of " << narrowText(file);
    }
};

class AssertCrashDumper : public IAssertFailureHandler, public virtual Logger::Logged {
public:
    AssertCrashDumper() : Logged("AssertCrashDumper", "") {}
    void failed(const std::wstring&, const std::wstring&, std::uint32_t) override { dumpHere(this); }
    void failedAt(const std::wstring&, std::uint32_t) override { dumpHere(this); }
};

class AssertAborter : public IAssertFailureHandler {
public:
    AssertAborter(bool writeAbortMessage, bool reportFault)
        : flags_((writeAbortMessage ? kAbortWriteMessage : 0) | (reportFault ? kAbortReportFault : 0)) {}
    void failed(const std::wstring&, const std::wstring&, std::uint32_t) override { abort(); }
    void failedAt(const std::wstring&, std::uint32_t) override { abort(); }

private:
    [[noreturn]] void abort() const {
        setAbortBehaviour(flags_, kAbortWriteMessage | kAbortReportFault);
        std::abort();
    }
    unsigned int flags_;
};

class CompositeAssertHandler : public IAssertFailureHandler {
public:
    void add(std::unique_ptr<IAssertFailureHandler> handler) { handlers_.push_back(std::move(handler)); }
    void failed(const std::wstring& description, const std::wstring& file, std::uint32_t line) override {
        for (const auto& handler : handlers_) {
            handler->failed(description, file, line);
        }
    }
    void failedAt(const std::wstring& file, std::uint32_t line) override {
        for (const auto& handler : handlers_) {
            handler->failedAt(file, line);
        }
    }

private:
    std::vector<std::unique_ptr<IAssertFailureHandler>> handlers_;
};

} // namespace

std::unique_ptr<IAssertFailureHandler> createAssertHandler() {
    const std::int32_t behaviour = option::assertBehaviourSetting();
    auto composite = std::make_unique<CompositeAssertHandler>();
    if (behaviour & 0x1) {
        composite->add(std::make_unique<AssertLogger>());
    }
    if (behaviour & 0x2) {
        composite->add(std::make_unique<AssertCrashDumper>());
    }
    if (behaviour & 0x4) {
        composite->add(std::make_unique<AssertAborter>(true, true));
    }
    if (behaviour & 0x8) {
        composite->add(std::make_unique<AssertAborter>(false, false));
    }
    return composite;
}

void reportAssertionFailure(const char* expression, const std::string& expansion, const std::string& message,
                            const std::wstring& file, std::uint32_t line) {
    const auto handler = createAssertHandler();
    std::wstring description = widenText(expression != nullptr ? expression : "");
    if (!expansion.empty()) {
        description += L" with expansion: " + widenText(expansion);
    }
    if (!message.empty()) {
        description += L" with message: \"" + widenText(message) + L"\"";
    }
    handler->failed(description, file, line);
}

} // namespace qv::sys
