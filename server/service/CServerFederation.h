#pragma once

class CChatServer;
class CMessageBase;
class CMessageServerPub;

// Federation with other servers: announcements received from neighbours,
// this server's own announcement to its route servers, and forwarding of
// messages for users of other servers. Until forwarding is built, nothing is
// accepted or passed on: announcements are logged and ignored, and a message
// for another server stays stored (RouteMessage reports false).
// Threads: the service's loop thread, except RouteMessage, which the
// delivery worker also calls on its own thread.
class CServerFederation {
public:
    explicit CServerFederation(CChatServer& service) : service_(service) {}

    void OnServerPub(CMessageServerPub* message);
    void AnnounceToRouteServers();
    bool RouteMessage(CMessageBase* message);

private:
    CChatServer& service_;
};
