#include "channel/message_reader.h"

#include "channel/key_store.h"
#include "channel/message_frame.h"
#include "channel/pipe_client.h"
#include "sys/concurrency/waitables.h"

#include <chrono>
#include <exception>

namespace qv::sys {

namespace {

// The channel key from the program's key store. A failure means the store is
// damaged; the run goes on (every message will then fail to decode) but the
// cause is put on record once.
encryption::Key<16> channelKey(const Logger::Logged& logged) {
    encryption::Key<16> key;
    std::uint32_t tag = 0;
    if (!encryption::getKey(encryption::channelKeyNumber, key.data(), key.size(), tag)) {
        QV_LOG_AS(logged, Logger::kError)
            << "The key store does not give the channel key: manager messages cannot be deciphered";
    }
    return key;
}

constexpr std::int64_t connectWaitMs = 60;

} // namespace

MessageReader::MessageReader(std::unique_ptr<MessageHandler> handler, const std::string& pipeName)
    : Identity("MessageReader"), Logged("MessageReader", "", "", 0x100000, 0), stop(false, true),
      handler(std::move(handler)),
      // The key is a temporary: it is wiped as soon as the decryptor holds its schedule.
      decryptor(this->handler.get(), channelKey(*this)), pipeName(pipeName) {
    thread = std::thread([this] { run(); });
}

MessageReader::~MessageReader() {
    stopping.store(true, std::memory_order_release);
    stop.set();
    if (thread.joinable()) {
        thread.join();
    }
}

void MessageReader::run() {
    while (!stop.wait(0)) {
        const bool hadClient = client != nullptr;
        if (!hadClient) {
            try {
                connectClient();
            } catch (const std::exception& e) {
                QV_LOG(Logger::kError) << e.what();
                client.reset();
                continue;
            }
        }
        try {
            if (client && client->getState() == PipeState::Connected) {
                readMessages();
            }
            if (hadClient && client && client->getState() != PipeState::Connected) {
                client.reset();
            }
        } catch (const std::exception& e) {
            QV_LOG(Logger::kError) << e.what();
            client.reset();
        }
    }
}

void MessageReader::connectClient() {
    auto candidate = std::make_unique<IpcPipeClient>(pipeName, std::string());
    for (;;) {
        if (stop.wait(0)) {
            return;
        }
        const auto attempt = std::chrono::steady_clock::now();
        if (candidate->connect(connectWaitMs, true)) {
            break;
        }
        // A pipe that exists but refuses the client answers at once; pace the
        // attempts as an absent pipe does instead of spinning.
        const auto spent = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - attempt)
                               .count();
        if (spent < connectWaitMs * 1000) {
            stop.wait(connectWaitMs * 1000 - spent);
        }
    }
    client = std::move(candidate);
}

void MessageReader::readMessages() {
    Waitables waitables;
    waitables.add(stop);
    waitables.add(client->readWaitable());
    for (;;) {
        const std::uint32_t woken = waitables.waitAny(kWaitForever);
        if (woken == 0) {
            return;
        }
        if (woken != 1) {
            continue;
        }
        readWaitingMessages();
    }
}

void MessageReader::readWaitingMessages() {
    // Sized by the pipe's own count of each message, never by the length
    // field, which the peer could set to anything; kept across the burst so
    // that a message of the usual size costs no allocation.
    std::vector<std::uint8_t> message;
    // A manager that writes faster than this loop reads must not hold off a
    // stop; the look costs no kernel call.
    while (!stopRequested()) {
        std::uint8_t header[messageHeaderSize] = {};
        if (client->peek(header, sizeof header) < sizeof header) {
            return;
        }
        if (!client->readPacket(message)) {
            return;
        }
        const FramePayload frame = cutFrame(message.data(), message.size());
        if (frame.truncated) {
            QV_LOG(Logger::kError) << "Dropped a message of " << message.size()
                                   << " bytes that announces a payload of " << frame.declared << " bytes";
            continue;
        }
        decryptor.handleMessage(frame.payload);
    }
}

} // namespace qv::sys
