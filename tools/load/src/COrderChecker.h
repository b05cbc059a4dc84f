#pragma once

#include <cstdint>
#include <set>
#include <unordered_map>

namespace quorvel::load {

// Checks exactly-once, in-order delivery of numbered messages. A stream is
// one sender's messages to one receiver, numbered 0, 1, 2 ... in sending
// order. Each arrival is classed as in order, late (a number skipped
// earlier, arriving after a later one: reordered) or duplicate (a number
// already received). What never arrived is found at the end against the
// count each stream's sender sent. One thread at a time.
class COrderChecker {
public:
    enum class Verdict { kInOrder, kLate, kDuplicate };

    static std::uint64_t StreamKey(std::uint32_t sender, std::uint32_t receiver)
    {
        return (static_cast<std::uint64_t>(sender) << 32) | receiver;
    }

    Verdict Record(std::uint64_t stream, std::uint64_t seq);
    // The sender of `stream` sent `count` messages (numbers 0..count-1).
    void Sent(std::uint64_t stream, std::uint64_t count);

    std::uint64_t Received() const { return received_; }
    std::uint64_t Duplicates() const { return duplicates_; }
    std::uint64_t Reordered() const { return reordered_; }
    // Numbers sent but never received, over every stream told with Sent.
    std::uint64_t Missing() const;
    // Numbers received beyond what their stream's sender said it sent.
    std::uint64_t Unexpected() const;
    // Every sent message arrived once, in order, and nothing else arrived.
    bool ExactlyOnceInOrder() const { return duplicates_ == 0 && reordered_ == 0 && Missing() == 0 && Unexpected() == 0; }

private:
    struct Stream {
        std::uint64_t next = 0;          // one past the highest number seen
        std::uint64_t sent = 0;
        bool sentKnown = false;
        std::set<std::uint64_t> skipped; // numbers below `next` not yet seen
    };

    std::unordered_map<std::uint64_t, Stream> streams_;
    std::uint64_t received_ = 0;
    std::uint64_t duplicates_ = 0;
    std::uint64_t reordered_ = 0;
};

} // namespace quorvel::load
