#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace marlune {
class CMessageBase;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::store {

class CDeliveryTarget;
class CMsgCache;
class CStoreCounters;

// The stored messages the delivery worker handed to the service and that are
// not settled yet: a message counts as delivered only once a connection
// wrote it whole to its socket. The ledger hands a message over with a
// receipt and settles it when the receipt tells: marks the record sent and
// logs it, or returns it to pending (its connections closed before writing
// it), in which case the user's deliveries are held back for the rest of the
// worker's cycle.
//
// Per user it keeps the order of delivery safe: while some of the user's
// messages are unsettled, a new one is handed over only to connections that
// were also given the unsettled ones (a connection that logged in since waits
// until they settle), so a message returned to pending is never overtaken by
// a later one. And it bounds what a slow reader is given: nothing more while
// one of the user's connections has kUserBacklog bytes or more unwritten.
//
// Threads: Hand and the settling run on the service loop thread; Detach on
// any thread.
class CDeliveryLedger : public std::enable_shared_from_this<CDeliveryLedger> {
public:
    // Unwritten bytes on one of a user's connections beyond which no more of
    // the user's stored messages are handed over in a cycle: well under the
    // connection's own bound, so a slow reader is never closed for the
    // backlog, and enough to keep a fast one busy for a cycle.
    static constexpr std::size_t kUserBacklog = 4u * 1024 * 1024;

    // A record handed out by the cache for a user.
    struct Pending {
        std::uint32_t record = 0;
        std::size_t length = 0;
        std::string time;
        std::string userId;
        std::string serverName;
    };

    enum class Offer {
        kHandedOver,    // with a receipt; the ledger settles the record
        kNotDelivered,  // the service could not deliver; the record is back to pending
        kHeldBack,      // not offered (a failure this cycle); the caller releases the record
        kBackedUp,      // not offered until the user's connections drain (see Drained); the caller releases it
    };

    CDeliveryLedger(CMsgCache& cache, scrivlet::CLog4c& log);

    // The worker's cycle `cycle` begins: from now on a failed delivery holds
    // its user back for this cycle. The worker calls it before it takes any
    // message of the cycle from the cache, so a message taken before an
    // earlier one of its user went back to pending is never offered ahead of
    // it (the user is held back until the next cycle, which takes them again
    // in order). Loop thread.
    void BeginCycle(std::uint64_t cycle) { cycle_ = cycle; }

    // Offers one stored message of pending's user to the service in the
    // worker's cycle `cycle`; a delivery counts in `counters` (may be null).
    // Loop thread.
    Offer Hand(CDeliveryTarget& service, marlune::CMessageBase& message, const Pending& pending, std::uint64_t cycle,
               std::shared_ptr<CStoreCounters> counters);

    // Whether a user backed up may be offered more: each of the user's
    // connections has at most half of kUserBacklog unwritten (so the next
    // offers are worth the hand-over), and the user's unsettled messages all
    // went to connections the user still has. Loop thread.
    bool Drained(const CDeliveryTarget& service, const std::string& userId, const std::string& serverName) const;

    // Settlements after this touch neither the cache nor the log (their
    // owner is going away). Any thread.
    void Detach();

private:
    struct UserState {
        int unsettled = 0;
        std::vector<std::uint64_t> connections;  // what the unsettled ones went to
        std::uint64_t heldBackIn = 0;            // cycle in which a failure holds the user back
    };

    void Settle(const Pending& pending, bool delivered);
    // Marks sent and logs, or releases; false when the user must be held back.
    bool Record(const Pending& pending, bool delivered);
    static std::string Key(const std::string& userId, const std::string& serverName)
    {
        return userId + '@' + serverName;
    }
    // Whether the user has unsettled messages and a connection they did not
    // go to (one that logged in since): it waits until they settle.
    static bool OutOfOrder(const UserState* user, const std::vector<std::uint64_t>& connections);

    std::unordered_map<std::string, UserState> users_;  // loop thread
    std::uint64_t cycle_ = 0;                           // loop thread: the latest cycle offered in

    std::mutex mutex_;  // guards the two pointers against Detach
    CMsgCache* cache_;
    scrivlet::CLog4c* log_;
};

} // namespace quorvel::store
