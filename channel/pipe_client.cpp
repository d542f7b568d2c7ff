#include "channel/pipe_client.h"

#include <type_traits>

#include "channel/pipe_impl.h"

namespace qv::sys {

IpcPipe::IpcPipe(std::unique_ptr<PipeImpl> impl, const std::string& name)
    : impl_(std::move(impl)), name_(name) {
    copyState();
}

IpcPipe::~IpcPipe() {
    try {
        copyState();
        impl_.reset();
        // The implementation ended Disconnected; so does its facade.
        setState(PipeState::Disconnected);
    } catch (...) {
        // Destruction goes on; the implementation has closed its pipe.
    }
}

void IpcPipe::copyState() {
    if (impl_) {
        setState(impl_->getState());
    }
}

template <typename Operation>
auto IpcPipe::forward(Operation operation) -> decltype(operation()) {
    try {
        if constexpr (std::is_void_v<decltype(operation())>) {
            operation();
            copyState();
        } else {
            auto result = operation();
            copyState();
            return result;
        }
    } catch (...) {
        copyState();
        throw;
    }
}

bool IpcPipe::readPacket(std::vector<std::uint8_t>& buffer) {
    return forward([&] { return impl_->readPacket(buffer); });
}

bool IpcPipe::writePacket(const std::vector<std::uint8_t>& data) {
    if (data.empty()) {
        return false;
    }
    return forward([&] { return impl_->writePacket(data); });
}

bool IpcPipe::peekPacket(std::vector<std::uint8_t>& buffer) {
    return forward([&] { return impl_->peek(buffer.empty() ? nullptr : buffer.data(), buffer.size()) != 0; });
}

std::uint64_t IpcPipe::peek(void* buffer, std::uint64_t size) {
    return forward([&] { return impl_->peek(buffer, size); });
}

IWaitable& IpcPipe::readWaitable() {
    return impl_->readWaitable();
}

bool IpcPipe::setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) {
    return impl_->setAccess(trustee, allow, rights);
}

IpcPipeClient::IpcPipeClient(const std::string& name, const std::string& namePart)
    : Logged("IpcPipeClient", name + namePart, "", 0x100000, 0),
      IpcPipe(std::make_unique<ClientImpl>(name, namePart), name) {}

IpcPipeClient::~IpcPipeClient() = default;

bool IpcPipeClient::connect(std::int64_t timeoutMs, bool quiet) {
    return forward([&] { return impl_->connect(timeoutMs, quiet); });
}

} // namespace qv::sys
