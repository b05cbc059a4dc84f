#pragma once

#include "quorvel_store/CMessageRouter.h"
#include "quorvel_store/CServiceSnapshot.h"

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {
class CFrameSender;
}
namespace marlune {
class CMessageBase;
class CTalkerServer;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::service {

// One pass of forwarding messages to the route servers, from a snapshot of
// the service. A message goes to every route server it has not passed, the
// sends running side by side on the snapshot's loop (CFrameSender, each with
// its own time limits), while the calling thread waits for them; a stop cuts
// the wait short. A route server that failed is left out for the rest of
// the pass, so one that accepts or reads nothing costs its time limit once
// per pass, not once per message.
//
// A forwarded copy always names this server in its routed list, so route
// servers that list each other never pass a message back and forth.
//
// Thread: the routing thread (any thread but the snapshot's loop, which it
// waits for); one pass is used by one thread.
class CRoutePass final : public store::CMessageRouter {
public:
    // Time limits of one forwarded message to one route server.
    static constexpr std::chrono::seconds kConnectLimit{3};
    static constexpr std::chrono::seconds kStallLimit{10};
    static constexpr std::chrono::seconds kTotalLimit{30};

    // `log` and `routes` outlive the pass.
    CRoutePass(scrivlet::CLog4c& log, const store::CServiceSnapshot& routes, std::stop_token stop = {});
    // A pass for the routing thread (CServiceSnapshot::newRouter).
    static std::unique_ptr<store::CMessageRouter> Start(scrivlet::CLog4c& log, const store::CServiceSnapshot& routes, std::stop_token stop);

    // True when a route server took the message, when its target is empty,
    // or when its one route server was already passed; false for a status
    // change, for a message for this server, and when no route server took
    // it. Adds this server to the message's routed list.
    bool RouteMessage(marlune::CMessageBase& message) override;

private:
    bool Forward(marlune::CMessageBase& message);
    // Starts sending bytes to route; the connection's log line names the
    // message by its memo.
    corvane::CFrameSender SendToRouteServer(const marlune::CMessageBase& message, const std::string& bytes,
                                   const marlune::CTalkerServer& route) const;

    scrivlet::CLog4c& log_;
    const store::CServiceSnapshot& routes_;
    std::stop_token stop_;
    std::vector<bool> failed_;   // per route server of the snapshot
};

} // namespace quorvel::service
