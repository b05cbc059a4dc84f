#pragma once

#include "quorvel_store/CMessageRouter.h"
#include "quorvel_store/CStoreCounters.h"

#include "corvane/Callbacks.h"
#include "marlune/CTalkerServer.h"

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {
class CEventLoop;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::store {

// What the delivery worker and the routing thread need of the service for one
// cycle, copied on the service loop (CChatServer::TakeSnapshot) so they never
// read the service's lists or connections while the loop changes them.
struct CServiceSnapshot {
    // A logged-in user: one entry per user with a bound connection (a user
    // bound twice appears once), in no particular order.
    struct LoggedInUser {
        std::string userId;
        std::string serverName;   // the user's home server
    };

    std::string localName;                      // this server's name
    std::vector<LoggedInUser> loggedIn;
    std::vector<marlune::CTalkerServer> routeServers;    // name, ip, port, description; no users
    corvane::RAS_LOG_CALLBACK transportLog = nullptr;    // where outbound connections log
    corvane::CEventLoop* loop = nullptr;                 // the service's loop: where they run
    // Where they count: the service's own counters; null only in a snapshot
    // made by hand, which counts nothing.
    std::shared_ptr<CStoreCounters> counters;
    // Starts a routing pass over this snapshot (`log` and the snapshot
    // outlive it; `stop` cuts its waits short). Any thread; null in a
    // snapshot made by hand, which routes nothing.
    using RouterMaker = std::unique_ptr<CMessageRouter> (*)(scrivlet::CLog4c& log, const CServiceSnapshot& snapshot,
                                                            std::stop_token stop);
    RouterMaker newRouter = nullptr;
};

} // namespace quorvel::store
