#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <thread>

namespace marlune {
class CMessageBase;
}

namespace quorvel::soak {

// Stored messages read by a slow reader: a sender sends numbered chat
// messages of 128 KiB to a user who is away; now and then a slow reader
// logs in as that user on a connection with a tiny receive buffer, reads the
// stored messages at a crawl for a second or two and drops the connection
// with a reset, so the server holds messages it could not write. At the end
// the user logs in properly and reads what is left: every message must have
// arrived whole in some session (one cut by a drop may come again), and each
// session must see them in increasing order.
//
// Thread: the owner calls Start, Join, then Settle and the counters.
class CStoredBacklog {
public:
    CStoredBacklog(int port, std::string sender, std::string absent, int pace = 1);
    ~CStoredBacklog();
    CStoredBacklog(const CStoredBacklog&) = delete;
    CStoredBacklog& operator=(const CStoredBacklog&) = delete;

    void Start(std::chrono::steady_clock::time_point deadline);
    void Join();
    // Logs in as the absent user and reads until everything sent has come
    // or `limit` passed. After Join.
    void Settle(std::chrono::milliseconds limit);

    std::uint64_t Sent() const { return sent_; }
    std::uint64_t Received() const { return seen_.size(); }
    std::uint64_t Lost() const { return sent_ - seen_.size(); }
    std::uint64_t Duplicates() const { return duplicates_; }
    std::uint64_t OutOfOrder() const { return outOfOrder_; }
    std::uint64_t SlowSessions() const { return slowSessions_; }

private:
    void Run();
    void SlowSession();
    // Checks off a received message; `last` is the session's last number.
    void CheckOff(const marlune::CMessageBase* message, std::int64_t& last);

    int port_;
    int pace_;
    std::string sender_;
    std::string absent_;
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
    std::uint64_t sent_ = 0;
    std::uint64_t duplicates_ = 0;
    std::uint64_t outOfOrder_ = 0;
    std::uint64_t slowSessions_ = 0;
    std::set<std::uint64_t> seen_;
};

} // namespace quorvel::soak
