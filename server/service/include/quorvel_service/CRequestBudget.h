#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace quorvel::service {

// Token buckets for the requests that cost the service far more than their
// bytes (registrations and profile changes, which rewrite the directory
// file; server announcements; list and profile answers): each connection
// and each peer address may make `perMinute` of them a minute on average
// and spend a whole minute's worth at once. A request is admitted only when
// both its connection's and its address's buckets hold a token, and then
// takes one from each; a request whose answer turns out large pays more
// afterwards (Spend).
//
// Buckets that have refilled completely are forgotten when a table grows
// (a full bucket is what a new one is), so the tables follow the
// connections and addresses active within the last minute.
//
// Thread: one thread at a time (the service loop).
class CRequestBudget {
public:
    using Clock = std::chrono::steady_clock;

    // Which bucket refused a request.
    enum class Verdict { kAdmitted, kConnection, kAddress };

    CRequestBudget(std::uint64_t perConnection, std::uint64_t perAddress)
        : perConnection_(perConnection), perAddress_(perAddress)
    {
    }

    // Takes `cost` tokens for a request on connection `serial` from `address`.
    Verdict Admit(std::uint64_t serial, const std::string& address, Clock::time_point now, std::uint64_t cost = 1);
    // The same, asking `addressOf` for the connection's address only the
    // first time its bucket is made (an address costs a system call);
    // `address` is set to it.
    Verdict Admit(std::uint64_t serial, const std::function<std::string()>& addressOf, Clock::time_point now,
                  std::uint64_t cost, std::string& address);

    // Whether a request of one token would be admitted now, taking none:
    // a request refused here would be refused by Admit whatever its cost.
    // `addressOf` and `address` as for Admit.
    Verdict Check(std::uint64_t serial, const std::function<std::string()>& addressOf, Clock::time_point now,
                  std::string& address);

    // Takes `cost` more tokens from the buckets of connection `serial` and
    // its address for a request admitted before its true cost was known
    // (an answer's size). The buckets may go into debt, by a minute's worth
    // at most: the connection's and address's next requests wait for it.
    void Spend(std::uint64_t serial, Clock::time_point now, std::uint64_t cost);

    // Connections and addresses with a bucket not yet full.
    std::size_t TrackedConnections() const { return connections_.size(); }
    std::size_t TrackedAddresses() const { return addresses_.size(); }

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point last;
        std::string address;   // a connection's peer address
    };
    // The bucket of connection `serial`, refilled to `now`; made with the
    // address `addressOf` gives when there is none yet.
    Bucket& ConnectionBucket(std::uint64_t serial, const std::function<std::string()>& addressOf,
                             Clock::time_point now);
    // Whether `connection` and its address's bucket (refilled to `now`, set
    // in `peer` once the connection's can pay) can pay `cost`.
    Verdict Judge(Bucket& connection, Clock::time_point now, std::uint64_t cost, Bucket*& peer);
    // Judges a request and, when admitted, takes its cost from both buckets.
    Verdict Charge(Bucket& connection, Clock::time_point now, std::uint64_t cost);
    template <class Table, class Key>
    static Bucket& Find(Table& table, const Key& key, std::uint64_t perMinute, Clock::time_point now,
                        std::size_t& pruneAt);

    std::uint64_t perConnection_;
    std::uint64_t perAddress_;
    std::unordered_map<std::uint64_t, Bucket> connections_;
    std::unordered_map<std::string, Bucket> addresses_;
    std::size_t connectionsPruneAt_ = kFirstPrune;
    std::size_t addressesPruneAt_ = kFirstPrune;
    static constexpr std::size_t kFirstPrune = 256;
};

} // namespace quorvel::service
