#pragma once

#include "quorvel_service/CServiceCounters.h"
#include "quorvel_service/CServiceLimits.h"

#include <functional>
#include <memory>

namespace scrivlet {
class CLog4c;
}

namespace quorvel::service {

class CServerRegistry;
class CUserSender;

// What the handlers of the message groups work with, instead of the whole
// service: the log, the registry of servers and users, the way to
// connections and users, the bounds and counters, the SendAllFriend setting
// and the config hook (the directory save). The service builds it from its
// own members, which outlive the handlers.
// Threads: the service's loop thread.
struct CHandlerContext {
    scrivlet::CLog4c& log;
    CServerRegistry& registry;
    CUserSender& sender;
    // The service's bounds (SetLimits changes them in place).
    const CServiceLimits& limits;
    // The service's counters (the owner may hand it the program's).
    const std::shared_ptr<CServiceCounters>& counters;
    std::function<bool()> sendAllFriend;
    // Runs the config hook after a handler changed users or servers.
    std::function<void()> configChanged;

    CServiceCounters& Counters() const { return *counters; }
    bool SendAllFriend() const { return sendAllFriend && sendAllFriend(); }
    void RunConfigHook() const
    {
        if (configChanged)
            configChanged();
    }
};

} // namespace quorvel::service
