#include "quorvel_client/CClientIdentity.h"

#include <marlune/CMessageBase.h>

namespace quorvel::client {

using marlune::CMessageBase;

std::string CClientIdentity::Address() const
{
    if (server.empty())
        return userId;
    return userId + "@" + server;
}

std::string CClientIdentity::Resolve(std::string_view address) const
{
    if (address.find('@') != std::string_view::npos || server.empty())
        return std::string(address);
    return std::string(address) + "@" + server;
}

void CClientIdentity::Split(std::string_view address, std::string& user, std::string& server)
{
    const auto at = address.find('@');
    user.assign(address.substr(0, at));
    server.assign(at == std::string_view::npos ? std::string_view() : address.substr(at + 1));
}

void CClientIdentity::TakeLogin(std::string_view id, std::string_view typedAddress, const CMessageBase& reply)
{
    std::string typedUser;
    Split(typedAddress, typedUser, server);
    userId.assign(id);
    if (!reply.routedServers.empty())
        server = reply.routedServers.back().name;
}

} // namespace quorvel::client
