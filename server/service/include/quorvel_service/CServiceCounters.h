#pragma once

#include "quorvel_store/CStoreCounters.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::service {

// What the service has done since the program started: connections, logins,
// messages by what became of them, refusals by the limit that refused, and
// the timings of the delivery worker and the service loop. Every method may
// be called on any thread: the numbers are relaxed atomics, so the status
// command and the metrics endpoint read them without stopping the service
// loop, and the loop, the delivery worker and the routing thread count
// without a lock. One object outlives every service the program starts.
class CServiceCounters final : public store::CStoreCounters {
public:
    // The message types counted by name; any other parsed type counts as
    // "other", a frame that does not parse as "unparsed".
    static constexpr std::array<const char*, 12> kTypes = {
        "heart",      "server-pub",   "user-login",  "user-reg", "user-infor", "user-list", "user-changestatu",
        "trans-file", "user-talking", "user-friend", "other",    "unparsed"};
    // Distinct limit names counted; further names count under kOtherLimit.
    static constexpr std::size_t kMaxLimits = 32;
    static constexpr const char* kOtherLimit = "other";

    // The numbers at one moment (each read on its own: they need not agree
    // with one another to the message).
    struct Values {
        std::uint64_t connections = 0; // connections accepted
        std::uint64_t loginsOk = 0;
        std::uint64_t loginsFailed = 0;
        std::array<std::uint64_t, kTypes.size()> received{}; // by kTypes
        std::uint64_t relayed = 0; // sent on to a connected user at arrival
        std::uint64_t stored = 0; // filed in the message store
        std::uint64_t delivered = 0; // stored messages written to a user's connection
        std::uint64_t routed = 0; // stored messages a route server took
        std::vector<std::pair<std::string, std::uint64_t>> refused; // by limit, in order of first use
        std::uint64_t workerCycles = 0;
        std::chrono::microseconds workerCycle{0}; // the last delivery cycle, without its pause
        std::chrono::microseconds loopLag{0}; // how late the last one-second tick ran
        std::chrono::seconds uptime{0};
    };

    CServiceCounters();
    CServiceCounters(const CServiceCounters&) = delete;
    CServiceCounters& operator=(const CServiceCounters&) = delete;

    void CountConnection() { Add(connections_); }
    void CountLogin(bool ok) { Add(ok ? loginsOk_ : loginsFailed_); }
    // A received message by its type name; "" for a frame that did not parse.
    void CountReceived(std::string_view type);
    void CountRelayed() { Add(relayed_); }
    void CountStored() { Add(stored_); }
    void CountDelivered() override { Add(delivered_); }
    void CountRouted() override { Add(routed_); }
    // Something refused, cut or dropped by a bound. `limit` names the bound,
    // as its [LIMITS] key where it has one ("MaxFriends"), and must be a
    // string that lives as long as the program (a literal): it is kept, not
    // copied.
    void CountRefused(const char* limit) override;
    void SetWorkerCycle(std::chrono::microseconds duration) override;
    void SetLoopLag(std::chrono::microseconds lag);

    Values Read() const;

private:
    struct LimitSlot {
        std::atomic<const char*> name{nullptr};
        std::atomic<std::uint64_t> count{0};
    };

    static void Add(std::atomic<std::uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
    LimitSlot& SlotFor(const char* limit);

    const std::chrono::steady_clock::time_point started_;
    std::atomic<std::uint64_t> connections_{0};
    std::atomic<std::uint64_t> loginsOk_{0};
    std::atomic<std::uint64_t> loginsFailed_{0};
    std::array<std::atomic<std::uint64_t>, kTypes.size()> received_{};
    std::atomic<std::uint64_t> relayed_{0};
    std::atomic<std::uint64_t> stored_{0};
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::uint64_t> routed_{0};
    std::array<LimitSlot, kMaxLimits> limits_{};
    std::atomic<std::uint64_t> workerCycles_{0};
    std::atomic<std::int64_t> workerCycleMicros_{0};
    std::atomic<std::int64_t> loopLagMicros_{0};
};

} // namespace quorvel::service
