#pragma once

#include "corvane/Callbacks.h"

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace corvane {

class CEventLoop;

// Sends one frame to a peer over a connection of its own, connect, write and
// close, without blocking any thread: every step is an asynchronous
// operation on a loop, with its own time limits. Made for the short-lived
// connections between servers (announcements, forwarded messages), so that
// a peer that never accepts or never reads holds up nothing but its own
// traffic.
//
// It logs through the given callback like the outbound client:
// "已经成功连接到RAS服务器:%s[%d]!" or "连接服务器%s[%d]失败,请检查服务器!"
// (unprefixed), and an ERROR line when the write fails or stalls.
//
// A CFrameSender is a handle: copies share one send, which lives until it
// has finished and its handlers have run (or the loop is destroyed).
//
// Threads: Start, Cancel and State on any thread; onConnected runs on the
// loop's thread; Wait on any thread but the loop's.
class CFrameSender {
public:
    enum class Result {
        kPending,        // still connecting or writing
        kSent,           // the whole frame was handed to the socket
        kConnectFailed,  // no connection within the connect limit
        kSendFailed,     // the write failed, stalled, or passed its total limit
        kCancelled,      // Cancel, or a Wait given up at a stop
    };

    struct Limits {
        std::chrono::milliseconds connect{3000};  // resolving and connecting
        std::chrono::milliseconds stall{10000};   // a write that makes no progress
        std::chrono::milliseconds total{60000};   // the whole send, connect included
    };

    struct Request {
        std::string host;           // dotted address or host name
        int port = 0;               // 1..65535; anything else fails to connect
        std::string payload;        // sent as one frame
        Limits limits;
        RAS_LOG_CALLBACK log = nullptr;
        std::function<void()> onConnected;   // once connected, before the write
    };

    // An empty handle: State() is kCancelled, Wait returns it.
    CFrameSender() = default;

    // Starts the send on loop. Any thread.
    static CFrameSender Start(CEventLoop& loop, Request request);

    // Cuts the send short: closes its connection, and the result becomes
    // kCancelled unless it had already finished. On the loop's thread this
    // takes effect at once (onConnected never runs afterwards); on another
    // thread the result is settled at once and the connection closed soon
    // after by the loop. Any thread.
    void Cancel() const;
    // The result so far. Any thread.
    Result State() const;
    // Waits until the send has finished, or until `stop` is requested, which
    // cancels it. Not on the loop's thread.
    Result Wait(std::stop_token stop = {}) const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

} // namespace corvane
