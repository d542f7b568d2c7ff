#include "app/dock_event_handler.h"

#include <string_view>

namespace qv::telemetry {

const EventNameTable eventNameTable = {
    {static_cast<std::uint8_t>(dockConnectedEvent), dockConnectedEventName},
};

namespace {
// The lines that readers of the log know these records by.
constexpr std::int32_t messageReceivedLine = 51;
constexpr std::int32_t messageDroppedLine = 62;

// The text without the zero bytes that fill a payload's last block.
std::string_view withoutFill(const std::string& text) {
    return std::string_view(text).substr(0, text.find_last_not_of('\0') + 1);
}
} // namespace

QvmMessageHandler::QvmMessageHandler(Receiver* receiver)
    : qv::sys::Logger::Logged("QvmMessageHandler", "", "", 0x100000, 0), receiver_(receiver) {}

QvmMessageHandler::~QvmMessageHandler() {
    while (!connectedDocks_.empty()) {
        const std::size_t before = connectedDocks_.size();
        try {
            const auto first = connectedDocks_.begin();
            const DockEventMessage leaving(dockDisconnectedEvent, first->first, first->second,
                                           FirmwareVersion{});
            QvmMessageHandler::handleMessage(encodeDockEvent(leaving));
        } catch (...) {
            // Nothing may escape a destructor: not a failed allocation, not a failing log output.
        }
        // A replay that failed before it got to the dock leaves it; drop it, so the loop ends.
        if (connectedDocks_.size() == before)
            connectedDocks_.erase(connectedDocks_.begin());
    }
}

void QvmMessageHandler::handleMessage(const std::string& text) {
    QV_LOG_AT(5, messageReceivedLine) << "Message received: " << withoutFill(text);
    try {
        process(text);
    } catch (...) {
        QV_LOG_AT(6, messageDroppedLine) << "Message dropped: " << withoutFill(text);
    }
}

void QvmMessageHandler::process(const std::string& text) {
    const DockEventMessage message = decodeDockEvent(text);
    if (message.event == dockConnectedEvent)
        connectedDocks_.try_emplace(message.deviceId, message.macAddress);
    else if (message.event == dockDisconnectedEvent)
        connectedDocks_.erase(message.deviceId);

    const auto name = eventNameTable.find(static_cast<std::uint8_t>(message.event & 0xFF));
    if (name == eventNameTable.end())
        return;
    TelemetryRecord record;
    record.eventType = name->second;
    record.timestamp = message.timestamp;
    record.macAddress = message.macAddress;
    record.fwVersion = message.fwVersion;
    receiver_->receive(record);
}

} // namespace qv::telemetry
