#pragma once

#include "quorvel_client/CClientConnection.h"
#include "quorvel_client/CClientIdentity.h"
#include "quorvel_client/CRequestBuilder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace marlune {
class CMessageBase;
}

namespace quorvel::client {

// A client for programs that drive a server step by step (end-to-end tests,
// the load generator): one connection whose received messages are parsed
// and queued, and calls that wait for the message they expect.
//
// Threads: one owner thread calls everything; received messages are queued
// by the connection's loop thread and taken by the owner.
class CSyncClient {
public:
    using Predicate = std::function<bool(const marlune::CMessageBase& msg)>;
    static constexpr std::chrono::milliseconds kDefaultWait{5000};
    // Messages kept unread at most; older ones are dropped past it.
    static constexpr std::size_t kMaxQueued = 100000;

    CSyncClient();
    ~CSyncClient();
    CSyncClient(const CSyncClient&) = delete;
    CSyncClient& operator=(const CSyncClient&) = delete;

    bool Connect(const std::string& host, int port);
    // Sends a login (optionally forced) and waits for its answer; true on
    // "success", after which Identity() names the user and its server.
    bool Login(std::string_view userId, std::string_view password, std::string_view statu = {},
               std::chrono::milliseconds limit = kDefaultWait);
    // Registers a user and waits for the answer; true on "success".
    bool Register(std::string_view userId, std::string_view name, std::string_view password,
                  std::chrono::milliseconds limit = kDefaultWait);
    // Sends a chat message to `address` (completed with the own server).
    bool Say(std::string_view address, std::string_view text);

    // Sends any request (build it with Builder()).
    bool Send(marlune::CMessageBase& msg);
    // Sends raw bytes as one frame.
    bool SendPayload(std::string_view payload);

    // Removes and returns the first queued message of `type` ("" = any)
    // that satisfies `pred` (when given), waiting up to `limit` for it;
    // null when none came. Other messages stay queued in order.
    std::unique_ptr<marlune::CMessageBase> WaitFor(const std::string& type, std::chrono::milliseconds limit = kDefaultWait,
                                          const Predicate& pred = {});
    // Removes and returns every queued message.
    std::deque<std::unique_ptr<marlune::CMessageBase>> TakeAll();
    // Payloads that were no message of a known type.
    std::size_t Unreadable() const { return unreadable_.load(); }
    // True once the server closed the connection.
    bool Closed() const { return closed_.load(); }

    const CClientIdentity& Identity() const { return me_; }
    // Builds requests from this client's identity.
    const CRequestBuilder& Builder() const { return builder_; }

    void Close();

private:
    void OnPayload(const std::uint8_t* data, std::size_t length);

    CClientIdentity me_;
    CRequestBuilder builder_{me_};
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::unique_ptr<marlune::CMessageBase>> queue_;
    std::atomic<std::size_t> unreadable_{0};
    std::atomic<bool> closed_{false};
    std::unique_ptr<CClientConnection> connection_;  // last: its handlers use the members above
};

} // namespace quorvel::client
