#include "app/dock_event_handler.h"

namespace qv::telemetry {

const EventNameTable eventNameTable = {
    {static_cast<std::uint8_t>(dockConnectedEvent), dockConnectedEventName},
};

QvmMessageHandler::QvmMessageHandler(Receiver* receiver)
    : qv::sys::Logger::Logged("QvmMessageHandler", "", "", 0x100000, 0), receiver_(receiver) {}

QvmMessageHandler::~QvmMessageHandler() {
    while (!connectedDocks_.empty()) {
        const std::string deviceId = connectedDocks_.begin()->first;
        const DockEventMessage leaving(dockDisconnectedEvent, deviceId, connectedDocks_.begin()->second,
                                       FirmwareVersion{});
        try {
            QvmMessageHandler::handleMessage(encodeDockEvent(leaving));
        } catch (...) {
            // Nothing may escape a destructor, not even a failing log output.
        }
        // The replay removes the dock; make sure of it, so the loop always ends.
        connectedDocks_.erase(deviceId);
    }
}

void QvmMessageHandler::handleMessage(const std::string& text) {
    QV_LOG(5) << "Message received: " << text;
    try {
        process(text);
    } catch (...) {
        QV_LOG(6) << "Message dropped: " << text;
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
