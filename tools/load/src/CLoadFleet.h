#pragma once

#include "CLatencyHistogram.h"
#include "CLoadConnection.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::load {

// The simulated users of one run, each with its own connection, all on one
// io_context and one thread. Connects them a bounded number at a time, logs
// them in, and hands every later message to the scenario. Every method runs
// on the thread that runs the io_context (the caller's).
class CLoadFleet {
public:
    using Clock = std::chrono::steady_clock;
    // A message for user `user` after its login.
    using MessageHandler = std::function<void(std::uint32_t user, std::string_view payload)>;

    struct User {
        std::string id;
        std::shared_ptr<CLoadConnection> connection;
        bool connected = false;
        bool loginAnswered = false;
        bool loggedIn = false;
        Clock::time_point loginSent{};
        Clock::time_point loginAnswer{};
    };

    CLoadFleet(asio::io_context& io, asio::ip::tcp::endpoint server, bool forceLogin);

    // Adds `count` users named prefix + number; returns the first one's index.
    std::uint32_t Add(std::uint32_t count, const std::string& prefix);
    User& At(std::uint32_t user) { return users_[user]; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(users_.size()); }
    void OnMessage(MessageHandler handler) { onMessage_ = std::move(handler); }

    // Connects users [first, first+count); true when all connected in time.
    bool Connect(std::uint32_t first, std::uint32_t count, Clock::time_point deadline);
    // Sends the logins of users [first, first+count) at once and waits for
    // every answer; true when all succeeded in time.
    bool Login(std::uint32_t first, std::uint32_t count, Clock::time_point deadline);
    void CloseAll();

    // Runs the io_context until `done` holds or the deadline passes; true
    // when `done` holds.
    bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline);

    // The server's name, learnt from the first login answer; "" before.
    const std::string& ServerName() const { return serverName_; }
    std::string Address(std::uint32_t user) const { return users_[user].id + "@" + serverName_; }
    // Time from sending a login to its answer.
    const CLatencyHistogram& LoginLatency() const { return loginLatency_; }
    std::uint64_t StatusNotices() const { return statusNotices_; }
    std::uint64_t LoginsRefused() const { return loginsRefused_; }
    std::uint64_t ConnectFailures() const { return connectFailures_; }
    std::uint64_t Closed() const { return closed_; }
    // Password of every generated or forced user.
    static constexpr const char* kPassword = "load";

private:
    void Attach(std::uint32_t user);
    void OnPayload(std::uint32_t user, std::string_view payload);
    void StartConnect(std::uint32_t user);

    asio::io_context& io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::ip::tcp::endpoint server_;
    bool forceLogin_;
    std::vector<User> users_;
    MessageHandler onMessage_;
    std::string serverName_;
    CLatencyHistogram loginLatency_;
    std::uint32_t connectsInFlight_ = 0;
    std::uint64_t statusNotices_ = 0;
    std::uint64_t loginsRefused_ = 0;
    std::uint64_t connectFailures_ = 0;
    std::uint64_t closed_ = 0;
};

} // namespace quorvel::load
