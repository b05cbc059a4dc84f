#pragma once

#include "CServiceSnapshot.h"

#include <string>
#include <string_view>

class CChatServer;
class CLog4c;
class CMessageBase;
class CMessageServerPub;
class CTalkerServer;

// Federation with other servers: announcements received from neighbours,
// this server's own announcement to its route servers, and forwarding of
// messages for users of other servers over short-lived outbound connections.
//
// Forwarding works from a CServiceSnapshot (this server's name and its route
// servers) so the delivery worker can route on its own thread without
// touching the service. A forwarded copy always names this server in its
// routed list, so route servers that list each other never pass a message
// back and forth.
//
// Threads: the member operations run on the service's loop thread; the
// static ones on any thread (they use only their arguments and the log).
// Connecting blocks the calling thread (up to the client's connect limit
// per route server).
class CServerFederation {
public:
    explicit CServerFederation(CChatServer& service) : service_(service) {}

    // Takes a neighbour's announcement: refuses names with "@" or "/",
    // ignores this server's own name, replaces a known neighbour (which
    // moves to the end of the list) with the announced server and users,
    // then runs the config hook.
    void OnServerPub(CMessageServerPub* message);
    // Sends this server, with a copy of its users, to every route server.
    void AnnounceToRouteServers();
    // Forwards message with the service's current route servers.
    bool RouteMessage(CMessageBase* message);

    // Forwards message to every route server it has not passed. True when a
    // route server took it, when its target is empty, or when its one route
    // server was already passed; false for a status change and when no route
    // server took it. Adds routes.localName to the message's routed list.
    static bool RouteMessage(CLog4c& log, const CServiceSnapshot& routes, CMessageBase& message);
    // False for a status change; otherwise whether the target server differs
    // from localName (an empty target server counts as different).
    static bool IsRoutable(const CMessageBase& message, const std::string& localName);
    // Sends message to one route server it has not passed; 1 when the whole
    // frame was sent, 0 otherwise (nothing built, already passed, no
    // connection).
    static int SendToRouteServer(CLog4c& log, const CServiceSnapshot& routes, CMessageBase& message,
                                 const CTalkerServer& route);
    // The leading decimal digits of a port text; 0 when there are none or
    // they name no TCP port (above 65535).
    static int PortNumber(std::string_view text);

private:
    CChatServer& service_;
};
