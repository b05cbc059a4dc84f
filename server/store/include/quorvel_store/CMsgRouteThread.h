#pragma once

#include "quorvel_store/CServiceSnapshot.h"

#include "corvane/CMyThreadBase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace marlune {
class CMessageBase;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::store {

class CMsgCache;

// The routing thread: once a second it forwards the pending messages for
// other servers, oldest first, to the route servers (a CMessageRouter
// pass the snapshot makes). It runs
// apart from the delivery to this server's users, so a slow or hung route
// server holds up only the messages that go to other servers. A message no
// route server took is put back and holds back the messages behind it until
// a later cycle; a stop cuts a wait for a route server short and puts the
// message back the same way.
//
// The delivery worker owns it and starts, stops and binds it with itself.
//
// Threads: Bind, StartService and StopService on the controlling thread
// (the service loop); RunCycle on the routing thread.
class CMsgRouteThread : public corvane::CMyThreadBase {
public:
    // Copies the service's routes on its loop; empty when there is no
    // service or the stop came first.
    using SnapshotSource = std::function<std::optional<CServiceSnapshot>(std::stop_token)>;
    // Parses a stored message; null (the record retired) when it no longer
    // parses.
    using Parser = std::function<std::unique_ptr<marlune::CMessageBase>(const std::string& bytes, std::uint32_t record)>;

    // `log` and `cache` outlive the thread.
    CMsgRouteThread(scrivlet::CLog4c& log, CMsgCache& cache, Parser parse);
    // Stops the thread and waits for it.
    ~CMsgRouteThread() override;

    // Where the next run takes its snapshots (null: it only sleeps). While
    // stopped.
    void Bind(SnapshotSource source);
    // Signals the stop and waits for the running cycle to end; 1.
    int StopService() override;

    // One cycle: the routing pass, then a sleep of one second (cut short by
    // a stop). Routing thread.
    void RunCycle() override;

private:
    void SendRouteMsgs(const CServiceSnapshot& snapshot);

    scrivlet::CLog4c& log_;
    CMsgCache& cache_;
    Parser parse_;
    SnapshotSource source_;
};

} // namespace quorvel::store
