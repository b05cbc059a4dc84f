#pragma once

#include "quorvel_service/CServiceCounters.h"

#include "corvane/Callbacks.h"
#include "marlune/CTalkerServer.h"

#include <memory>
#include <string>
#include <vector>

class CEventLoop;

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
    std::vector<CTalkerServer> routeServers;    // name, ip, port, description; no users
    RAS_LOG_CALLBACK transportLog = nullptr;    // where outbound connections log
    CEventLoop* loop = nullptr;                 // the service's loop: where they run
    // Where they count; never null (the service's own counters in its snapshots).
    std::shared_ptr<CServiceCounters> counters = std::make_shared<CServiceCounters>();
};
