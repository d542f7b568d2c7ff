#pragma once

// Turns dock event texts into telemetry records and tracks which docks are
// connected. No failure of one message leaves handleMessage: it is logged and
// the message is dropped.
//
// Threads: handleMessage is called by one thread at a time (the message
// reader's); the destructor runs after that thread has ended.

#include "app/record_writer.h"
#include "channel/message_handler.h"
#include "sys/logger/logger.h"

#include <cstdint>
#include <map>
#include <string>

namespace qv::telemetry {

// Event code (low 8 bits of the event) to the record's event name.
using EventNameTable = std::map<std::uint8_t, std::string>;
extern const EventNameTable eventNameTable;

constexpr std::uint16_t dockConnectedEvent = 3;
constexpr std::uint16_t dockDisconnectedEvent = 2;

class QvmMessageHandler : public qv::sys::MessageHandler, private qv::sys::Logger::Logged {
public:
    // `receiver` must outlive the handler.
    explicit QvmMessageHandler(Receiver* receiver);
    // Replays a leaving event for every dock still connected.
    ~QvmMessageHandler() override;

    void handleMessage(const std::string& text) override;

    // Device id to the MAC address it connected with.
    const std::map<std::string, MacAddress>& connectedDocks() const { return connectedDocks_; }

private:
    void process(const std::string& text);

    Receiver* receiver_;
    std::map<std::string, MacAddress> connectedDocks_;
};

} // namespace qv::telemetry
