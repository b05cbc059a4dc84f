#pragma once

namespace marlune {
class CMessageBase;
}

namespace quorvel::store {

// One pass of forwarding stored messages to the route servers, as the
// routing thread uses it; the service provides it (CRoutePass). One thread
// uses a pass.
class CMessageRouter {
public:
    virtual ~CMessageRouter() = default;
    // True when the message needs no more routing (a route server took it,
    // or it has nowhere to go); false puts it back to pending.
    virtual bool RouteMessage(marlune::CMessageBase& message) = 0;
};

} // namespace quorvel::store
