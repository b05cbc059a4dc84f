#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::client {
class CSyncClient;
}

namespace quorvel::soak {

// Well-behaved users chatting in a ring: each sends numbered chat messages
// to the next one, and every message received is checked off. Loss and
// duplication are counted per sender and receiver.
//
// Thread: one owner thread calls everything.
class CChatters {
public:
    CChatters(int port, std::vector<std::string> users);
    ~CChatters();
    CChatters(const CChatters&) = delete;
    CChatters& operator=(const CChatters&) = delete;

    // Connects and logs every user in; false when one fails.
    bool LogIn();
    // Sends one round (one message from each user) and reads what came.
    void Round();
    // Reads until everything sent has come or `limit` passed.
    void Settle(std::chrono::milliseconds limit);

    std::uint64_t Sent() const { return sent_; }
    std::uint64_t Received() const { return received_; }
    std::uint64_t Duplicates() const { return duplicates_; }
    std::uint64_t Lost() const { return sent_ - received_; }
    std::uint64_t SendFailures() const { return sendFailures_; }
    std::uint64_t Disconnected() const;

private:
    void Collect(std::size_t receiver);

    int port_;
    std::vector<std::string> users_;
    std::vector<std::unique_ptr<client::CSyncClient>> clients_;
    std::vector<std::uint64_t> next_;                             // next number per sender
    std::map<std::pair<std::size_t, std::string>, std::set<std::uint64_t>> seen_;  // (receiver, sender)
    std::uint64_t sent_ = 0;
    std::uint64_t received_ = 0;
    std::uint64_t duplicates_ = 0;
    std::uint64_t sendFailures_ = 0;
};

} // namespace quorvel::soak
