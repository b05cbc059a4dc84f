#pragma once

#include "quorvel_store/CDeliveryBatch.h"
#include "quorvel_store/CDeliveryLedger.h"
#include "quorvel_store/CMsgCache.h"
#include "quorvel_store/CMsgRouteThread.h"

#include "quorvel_store/CServiceSnapshot.h"

#include "corvane/CMyThreadBase.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
class CEventLoop;
}
namespace marlune {
class CMessageBase;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::store {

class CDeliveryTarget;

// The delivery worker: owns the message cache and, once a second, delivers
// the pending messages of every user logged in on this server. The pending
// messages for other servers go to the route servers on a routing thread of
// its own (CMsgRouteThread), which the worker binds, starts and stops with
// itself, so routing never holds up local delivery.
//
// The worker knows the service only as a CDeliveryTarget and never reads it
// directly. Each cycle it copies what it needs on the service's loop
// (TakeSnapshot); each delivery to a user is handed to that loop
// (HandleMsgCache) while the worker waits. A
// wait on the loop gives up when the worker is told to stop, so a stop issued
// on the loop
// never deadlocks with a delivery waiting for it.
//
// Stored messages cross to the loop in batches that carry several users'
// messages, each user's in order: the loop offers them one after another
// (CDeliveryLedger::Hand), skipping a user's later messages once one of the
// user's was not handed over, and reports which users stopped; what was not
// offered goes back to pending in its place. One hand-over and one wait per
// batch instead of per message or per user, and while the loop offers one
// batch the worker reads and parses the next (CDeliveryBatch); the next of
// the same user only once the user took a whole batch in the pass, so a
// reader that fell behind costs no reading ahead.
//
// A user whose connections hold a backlog (CDeliveryLedger::kUserBacklog)
// is backed up: the worker goes on with the other users, then, in the rest
// of the cycle's second, offers the backed-up users more as their
// connections drain. Cycles start a second apart.
//
// A delivered message is not marked sent when it is handed over but when a
// connection wrote it to its socket (CDeliveryLedger): the worker goes on
// with the user's next message meanwhile, and a message whose connections
// closed before writing it goes back to pending, in its place. Messages
// handed over and not yet settled when the worker stops settle later, or
// stay pending in the files.
//
// Use (all on the service's loop thread, the service created there):
//   service->SetMsgStore(worker.Store());
//   if (worker.InitThread(service, dataDir)) worker.StartService();
//   ...
//   worker.StopService();   // waits for the cycle; then destroy the service
class CMsgSendThread : public corvane::CMyThreadBase {
public:
    // `log` outlives the worker.
    // The most messages, and bytes as stored, one hand-over to the loop
    // carries: enough that a backlog of thousands crosses in a few hand-overs,
    // few enough that the loop's other work waits only a millisecond or so.
    static constexpr std::size_t kBatchMessages = 256;
    static constexpr std::size_t kBatchBytes = 1u << 20;

    explicit CMsgSendThread(scrivlet::CLog4c& log);
    // Stops the worker and waits for its thread.
    ~CMsgSendThread() override;

    // Prepares a run for `service` (null: the worker only sleeps): makes this
    // the current worker, opens the cache in `directory` (only the first
    // successful opening does anything) and logs the pending count of its
    // opening scan. Nonzero when the worker may be started. Stops a running
    // worker first. Service loop thread.
    int InitThread(CDeliveryTarget* service, const std::string& directory);

    // Starts the worker thread and the routing thread; 1 on success.
    // Service loop thread.
    int StartService() override;
    // Signals the stop, waits for the running cycles of both threads to end
    // (their sleeps and any wait on the loop or a route server are cut
    // short) and detaches the service, so the caller may destroy the service
    // once this returns. Makes this the current worker first, so it always
    // stops this worker; 1. Service loop thread.
    int StopService() override;

    // Stores a message not handled at arrival: the bytes exactly as received
    // under its source and target user and server. True when stored. Any
    // thread (the cache locks).
    bool CacheMsg(const marlune::CMessageBase& message, const char* bytes, std::size_t length);
    // The store to install in the service (SetMsgStore): CacheMsg of this
    // worker, which must outlive the service.
    using MsgStore = std::function<bool(const marlune::CMessageBase& message, const char* bytes, std::size_t length)>;
    MsgStore Store();

    // One cycle: deliveries to logged-in users, then a sleep until a second
    // after the cycle began (cut short by a stop). An exception out of the cycle is logged and
    // followed by a longer sleep: the worker keeps running. Worker thread.
    void RunCycle() override;

    // The cache, for inspection. Any thread.
    CMsgCache& Cache() { return cache_; }

private:
    // The service a run serves. Jobs left on the loop after the worker gave
    // up keep the link alive and find the service gone once the run stopped.
    struct Link {
        std::atomic<CDeliveryTarget*> service{nullptr};
    };

    using User = CServiceSnapshot::LoggedInUser;

    void BackOff(const char* reason);
    // One pass over the logged-in users, then, until a second after
    // `started`, more to those backed up as they drain.
    void DeliverAll(std::chrono::steady_clock::time_point started);
    // Asks the ledger on the loop whether a backed-up user may be offered
    // more (CDeliveryLedger::Drained); false when the wait gave up.
    bool Drained(const User& user) const;
    // Copies the service's snapshot on its loop; empty without a service or
    // when the stop came first. A nonzero `cycle` also begins that cycle in
    // the ledger, before any message of the cycle is taken from the cache.
    // Worker or routing thread.
    std::optional<CServiceSnapshot> Snapshot(std::stop_token stop, std::uint64_t cycle = 0) const;
    // Offers the users' pending messages, several users' in one batch, each
    // user's until one is not handed over. Returns the users backed up.
    std::vector<const User*> Pass(const std::vector<const User*>& users);
    // Adds the user's next pending messages, parsed, in order, until the
    // batch is full (true: the user may have more) or none is left (false).
    bool TakeBatch(const User& user, CDeliveryBatch& batch);
    // Parses stored bytes; a message that no longer parses is logged, its
    // record retired, and null returned.
    std::unique_ptr<marlune::CMessageBase> ParseStored(const std::string& bytes, std::uint32_t record);
    // What offers a batch to the service on the loop for the running cycle:
    // in order, each user's messages up to the first not handed over.
    CDeliveryBatch::Offerer Offerer() const;
    bool StopRequested() const { return StopToken().stop_requested(); }

    scrivlet::CLog4c& log_;
    CMsgCache cache_;
    std::shared_ptr<CDeliveryLedger> ledger_;
    std::uint64_t cycle_ = 0;  // worker thread: the number of the running cycle
    std::shared_ptr<CStoreCounters> counters_;  // worker thread: where the running cycle counts
    std::shared_ptr<Link> link_;
    corvane::CEventLoop* loop_ = nullptr;
    CMsgRouteThread router_;
};

} // namespace quorvel::store
