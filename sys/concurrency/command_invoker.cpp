#include "sys/concurrency/command_invoker.h"

#include <windows.h>

#include "sys/errors/assertion.h"
#include "sys/errors/exception.h"

namespace qv::sys::CommandInvoker {

namespace {

// Log readers know the failure of an unknown command kind by this line number.
constexpr std::uint32_t kUnknownKindLine = 67;

} // namespace

Engine::Engine() : Logged("CommandInvokerEngine", "") {}

void Engine::run() {
    setState(Running);
    // A failed wait ends the engine as a stop does, without passing StopSeen.
    while (fifo_.notEmptyFlag().wait(kWaitForever)) {
        if (!processCommands()) {
            setState(StopSeen);
            break;
        }
    }
    drain();
    setState(Finished);
}

bool Engine::processCommands() {
    while (!reader_->isEmpty()) {
        waitForCommand(kTotalTimeout, kSliceTimeout);
        const EngineCommand record = reader_->getFirst();
        if (record.kind == EngineCommand::kStop) {
            return false;
        }
        QV_ASSERT_CMP_AT(record.kind, ==, EngineCommand::kExecute, kUnknownKindLine); // then run as one
        try {
            record.command->execute();
        } catch (...) {
            // For the caller to rethrow; the engine carries on.
            if (record.exception != nullptr) {
                *record.exception = std::current_exception();
            }
        }
        reader_->Remove();
    }
    return true;
}

void Engine::drain() {
    while (!reader_->isEmpty()) {
        const EngineCommand& record = reader_->getFirst();
        if (record.kind != EngineCommand::kStop && record.exception != nullptr) {
            *record.exception = std::make_exception_ptr(
                InternalError("Command discarded: its engine has stopped", SystemErrorCode(0)));
        }
        reader_->Remove();
    }
}

Controller::Controller()
    : Logged("CommandInvokerController", ""), writer_(nullptr), engine_(std::make_unique<Engine>()) {
    events_.connect(*engine_);
    writer_ = &engine_->writer();
    if (!engine_->start()) {
        const DWORD error = GetLastError();
        events_.disconnect(*engine_);
        throw SystemError(10, SystemErrorCode(error));
    }
}

Controller::~Controller() {
    sendCommand(EngineCommand{EngineCommand::kStop, nullptr, nullptr}, kTotalTimeout, kSliceTimeout);
    engine_->join(Thread::kJoinForever);
    events_.disconnect(*engine_);
    engine_.reset();
}

bool Controller::sendCommand(const EngineCommand& command, std::int64_t totalTimeout,
                             std::int64_t sliceTimeout) {
    if (!waitSliced(
            *this, "sendCommand", writer_->notFullFlag(), [this] { return !writer_->isFull(); }, totalTimeout,
            sliceTimeout)) {
        return false;
    }
    writer_->Add(command);
    return true;
}

bool Controller::waitControlFifoEmpty(std::int64_t totalTimeout, std::int64_t sliceTimeout) {
    return waitSliced(
        *this, "waitControlFifoEmpty", writer_->emptyFlag(), [this] { return writer_->isEmpty(); },
        totalTimeout, sliceTimeout);
}

void Controller::invoke(Command& command) {
    if (GetCurrentThreadId() == engine_->threadId()) {
        throw InternalError("A command invoked on its own engine", SystemErrorCode(0));
    }
    std::exception_ptr thrown;
    {
        CriticalSectionGuard guard(invokeLock_);
        sendCommand(EngineCommand{EngineCommand::kExecute, &command, &thrown}, kTotalTimeout, kSliceTimeout);
        // The engine removes a record only after running it.
        waitControlFifoEmpty(kTotalTimeout, kSliceTimeout);
    }
    if (thrown) {
        std::rethrow_exception(thrown);
    }
}

} // namespace qv::sys::CommandInvoker
