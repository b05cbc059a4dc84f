#pragma once

#include "quorvel_store/CDeliveryLedger.h"
#include "quorvel_store/CServiceSnapshot.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvane {
class CEventLoop;
}
namespace marlune {
class CMessageBase;
}

namespace quorvel::store {

class CMsgCache;

// Records taken from the cache for one hand-over to the service loop, parsed,
// of one or more users, each user's in order. The batch is posted to the
// loop (Post) and the worker goes on filling the next one while the loop
// offers it; Await then waits for the loop's verdict. Whatever the ledger
// was not given goes back to pending when the batch is cleared or ends,
// however it ends (a stop, an exception): a record left handed out would
// never be offered again, and the user's later messages would wait behind it
// for good. The ledger settles what it was given.
//
// Threads: the delivery worker; the offer runs on the loop.
class CDeliveryBatch {
public:
    using User = CServiceSnapshot::LoggedInUser;
    using Offer = CDeliveryLedger::Offer;
    // Users not all handed over, each with the offer that stopped it, in the
    // order met.
    using Stops = std::vector<std::pair<const User*, Offer>>;

    struct Item {
        const User* user = nullptr;
        std::unique_ptr<marlune::CMessageBase> message;
        CDeliveryLedger::Pending pending;
        bool given = false;  // the ledger took it
    };

    // Offers the items on the loop thread, in order, marking each given to
    // the ledger and filling the stops; offers nothing when the service is
    // gone. It may run after the worker gave up waiting, so it must hold
    // what it uses.
    using Offerer = std::function<void(std::vector<Item>& items, Stops& stops)>;

    CDeliveryBatch(CMsgCache& cache, std::size_t maxMessages, std::size_t maxBytes);
    // Waits for a batch still on the loop (or the stop), then releases.
    ~CDeliveryBatch();
    CDeliveryBatch(const CDeliveryBatch&) = delete;
    CDeliveryBatch& operator=(const CDeliveryBatch&) = delete;

    bool Empty() const { return items_.empty(); }
    bool Full() const { return items_.size() >= maxMessages_ || bytes_ >= maxBytes_; }
    // What may still be added before the batch is full.
    std::size_t RoomMessages() const { return Full() ? 0 : maxMessages_ - items_.size(); }
    std::size_t RoomBytes() const { return Full() ? 0 : maxBytes_ - bytes_; }
    // The user of the last message of the batch on the loop (null when it
    // is not on the loop).
    const User* LastUserOnLoop() const { return lastUserOnLoop_; }
    void Add(Item item);
    // Releases and removes the items of these users (stopped by an earlier
    // batch: their later messages must not overtake the stopping one).
    void DropUsers(const std::unordered_set<const User*>& users);

    // Hands the items to the loop; the batch is on the loop until Await.
    void Post(corvane::CEventLoop& loop, Offerer offer, std::stop_token stop);
    bool OnLoop() const { return job_ != nullptr; }
    // Waits until the loop offered the batch or `stop` (given to Post) was
    // requested, takes the items back and releases what was not given.
    // Users of a batch that was never offered all stop kHeldBack.
    Stops Await();

private:
    struct Job;

    void Clear();

    CMsgCache& cache_;
    const std::size_t maxMessages_;
    const std::size_t maxBytes_;
    std::vector<Item> items_;
    std::size_t bytes_ = 0;
    std::shared_ptr<Job> job_;
    std::stop_token stop_;
    const User* lastUserOnLoop_ = nullptr;
};

} // namespace quorvel::store
