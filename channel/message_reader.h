#pragma once

// Keeps the program connected to the manager's pipe for as long as it lives:
// on its own thread it connects, waits for messages, cuts the payload out of
// each frame and hands it to the decrypting handler, which passes the plain
// text on to the application's handler. A broken pipe costs the connection
// and the reader connects again, until it is destroyed.
//
// Threads: constructed and destroyed by one owner thread (never the reader's
// own); everything else runs on the reader's thread.

#include "channel/aes_handler.h"
#include "channel/message_handler.h"
#include "sys/concurrency/flag.h"
#include "sys/logger/logger.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qv::sys {

class IpcPipeClient;

class MessageReader : public virtual Logger::Logged {
public:
    // Takes the handler, builds the decryptor with the channel key and starts the thread.
    MessageReader(std::unique_ptr<MessageHandler> handler, const std::string& pipeName);
    // Stops and joins the thread, then drops the handler before the client.
    ~MessageReader() override;

private:
    void run();
    void connectClient();
    void readMessages();
    // Reads and handles every whole message that is waiting, until a stop.
    void readWaitingMessages();

    // Whether the owner has asked the thread to stop: the flag wakes waits,
    // and `stopping` mirrors it in memory for the looks between messages.
    bool stopRequested() const { return stopping.load(std::memory_order_acquire); }

    Flag stop;
    std::atomic<bool> stopping{false};
    std::unique_ptr<IpcPipeClient> client;
    std::unique_ptr<MessageHandler> handler;
    AesHandler decryptor;
    std::string pipeName;
    std::thread thread;
};

} // namespace qv::sys
