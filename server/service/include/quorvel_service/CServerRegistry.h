#pragma once

#include <memory>
#include <string_view>
#include <vector>

namespace marlune {
class CMessageBase;
class CTalker;
class CTalkerServer;
}
namespace scrivlet {
class CLog4c;
}

namespace quorvel::service {

// The servers the service knows, with their users: this server's record,
// the neighbours and the route servers (the service's own members, which
// this refers to), and the lookups the handlers share.
// Threads: the service's loop thread.
class CServerRegistry {
public:
    using ServerList = std::vector<std::unique_ptr<marlune::CTalkerServer>>;

    // All four outlive the registry.
    CServerRegistry(scrivlet::CLog4c& log, marlune::CTalkerServer& local, ServerList& neighbors, ServerList& routeServers)
        : log_(log),
          local_(local),
          neighbors_(neighbors),
          routeServers_(routeServers)
    {}

    marlune::CTalkerServer& Local() const { return local_; }
    ServerList& Neighbors() const { return neighbors_; }
    ServerList& RouteServers() const { return routeServers_; }

    // The user at address ("id", "id@server"): this server's users first when
    // the server part is this server's name or empty, then each neighbour's
    // whose name matches (any neighbour for an empty server part). Null when
    // nobody has it.
    marlune::CTalker* FindTalker(std::string_view address) const;
    // True when the message's routed list names this server.
    bool IsRoutedHere(const marlune::CMessageBase& message) const;
    // For a message whose target server is neither empty nor this server's
    // name: logs that it goes to routing, sets its route flag, returns true.
    bool MarkForRouting(marlune::CMessageBase& message) const;

private:
    scrivlet::CLog4c& log_;
    marlune::CTalkerServer& local_;
    ServerList& neighbors_;
    ServerList& routeServers_;
};

} // namespace quorvel::service
