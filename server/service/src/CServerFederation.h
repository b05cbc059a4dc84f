#pragma once

#include "corvane/CFrameSender.h"
#include "corvane/CLogThrottle.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
class CMyRASServer;
}
namespace marlune {
class CMessageBase;
class CMessageServerPub;
}

namespace quorvel::service {

struct CHandlerContext;

// Federation with other servers: announcements received from neighbours,
// this server's own announcement to its route servers, and what routing
// needs to know of messages (CRoutePass forwards them).
//
// Nothing here waits for a peer: announcements connect and send
// asynchronously on the service loop (CFrameSender), with their own time
// limits, and a message to route that reaches the service on its loop is
// filed in the store for the routing thread.
//
// Threads: the member operations run on the service's loop thread; the
// static ones on any thread.
class CServerFederation {
public:
    // Time limits of one announcement to one route server; the whole of it
    // ends well before the next announcement is due.
    static constexpr std::chrono::seconds kConnectLimit{3};
    static constexpr std::chrono::seconds kStallLimit{10};
    static constexpr std::chrono::seconds kTotalLimit{50};

    // Files a message to route in the store: the parsed message and its
    // bytes; true when stored.
    using FileForRouting = std::function<bool(const marlune::CMessageBase& message, const std::string& bytes)>;

    // Announcements run on `endpoint`'s loop and log through its transport
    // log callback; context and endpoint outlive this.
    CServerFederation(CHandlerContext& context, const corvane::CMyRASServer& endpoint, FileForRouting file)
        : context_(context),
          endpoint_(endpoint),
          file_(std::move(file))
    {}
    // Cuts short every announcement still under way.
    ~CServerFederation();
    CServerFederation(const CServerFederation&) = delete;
    CServerFederation& operator=(const CServerFederation&) = delete;

    // Takes a neighbour's announcement: refuses names with "@" or "/" and
    // names too long for the message store, ignores this server's own name,
    // refuses a new name when MaxNeighbors neighbours are known, replaces a
    // known neighbour (which moves to the end of the list) with the
    // announced server and its first MaxAnnouncedUsers users, then runs the
    // config hook. Each bound that bites is logged at most once a minute.
    void OnServerPub(marlune::CMessageServerPub* message);
    // Starts sending this server, with a copy of its users, to every route
    // server; returns at once. A route server whose previous announcement is
    // still under way is left out this time.
    void AnnounceToRouteServers();
    // A message to route that reached the loop (a stored message with the
    // route flag): false when it is not routable, true when its target is
    // empty; otherwise it is filed in the store, where the routing thread
    // forwards it in order, and true means it was filed.
    bool RouteMessage(marlune::CMessageBase* message);

    // What routing makes of a message before sending anything, on the loop
    // and on the routing thread alike: false for a status change or a
    // message for localName's server (never routed), true for a message
    // without a target (nobody to forward to: finished), nothing when it is
    // to be forwarded. An empty target server counts as another server.
    static std::optional<bool> Settled(const marlune::CMessageBase& message, const std::string& localName);

private:
    // An announcement under way, with the address it goes to.
    struct Announcement {
        std::string address;
        corvane::CFrameSender sender;
    };

    bool AnnouncedNameRefused(const std::string& name) const;
    // Whether a new neighbour fits under MaxNeighbors; logs a refusal.
    bool RoomForNeighbor(const std::string& name);
    // Logs that an announcement of `announced` users was cut.
    void LogUsersCut(const std::string& name, std::size_t announced);

    CHandlerContext& context_;
    const corvane::CMyRASServer& endpoint_;
    FileForRouting file_;
    std::vector<Announcement> announcements_;
    corvane::CLogThrottle capLines_;   // lines about the neighbour and user bounds
};

} // namespace quorvel::service
