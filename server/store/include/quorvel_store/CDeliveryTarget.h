#pragma once

#include "quorvel_store/CServiceSnapshot.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace corvane {
class CEventLoop;
}
namespace marlune {
class CMessageBase;
}

namespace quorvel::store {

class CDeliveryReceipt;

// What the delivery worker and its ledger need of the message service, and
// all the store knows of it: the service implements it (CChatServer).
//
// Threads: ServiceLoop may be called on any thread and names the loop that
// owns the target; every other method runs on that loop only.
class CDeliveryTarget {
public:
    // What a delivery to a user meets: the serials of the connections bound
    // to it and the most bytes one of them has accepted and not yet written.
    struct UserLinks {
        std::vector<std::uint64_t> connections;
        std::size_t unwritten = 0;
    };

    // The loop that owns the target; the same for its whole life.
    virtual corvane::CEventLoop& ServiceLoop() const = 0;
    // What the worker and the routing thread read of the service for a cycle.
    virtual CServiceSnapshot TakeSnapshot() const = 0;
    virtual UserLinks LinksOf(std::string_view userId) const = 0;
    // Offers a stored message again. True: handed over (the receipt then
    // tracks every send) or finished; false: it stays pending.
    virtual bool HandleMsgCache(marlune::CMessageBase* message, CDeliveryReceipt* receipt) = 0;

protected:
    ~CDeliveryTarget() = default;
};

} // namespace quorvel::store
