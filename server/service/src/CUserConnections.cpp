#include "quorvel_service/CUserConnections.h"

#include "corvane/CMyRASSocket.h"

#include <algorithm>
#include <cstring>

namespace quorvel::service {

using corvane::CMyRASSocket;

namespace {

std::string_view BoundId(const CMyRASSocket& socket)
{
    return {socket.userId, strnlen(socket.userId, sizeof socket.userId)};
}

} // namespace

bool CUserConnections::Bind(CMyRASSocket& socket, std::string_view userId)
{
    if (userId.empty() || userId.size() >= sizeof socket.userId)
        return false;
    if (BoundId(socket) == userId)
        return true;
    List& list = byUser_[std::string(userId)];
    // Accept order is serial order; a user rarely has more than a few.
    const auto at = std::find_if(list.begin(), list.end(),
                                 [&](const CMyRASSocket* held) { return held->Serial() > socket.Serial(); });
    list.insert(at, &socket);
    Remove(socket, BoundId(socket));
    std::memset(socket.userId, 0, sizeof socket.userId);
    std::memcpy(socket.userId, userId.data(), userId.size());
    return true;
}

std::string CUserConnections::Unbind(CMyRASSocket& socket)
{
    std::string userId(BoundId(socket));
    Remove(socket, userId);
    std::memset(socket.userId, 0, sizeof socket.userId);
    return userId;
}

void CUserConnections::Remove(CMyRASSocket& socket, std::string_view userId)
{
    if (userId.empty())
        return;
    const auto found = byUser_.find(userId);
    if (found == byUser_.end())
        return;
    List& list = found->second;
    list.erase(std::remove(list.begin(), list.end(), &socket), list.end());
    if (list.empty())
        byUser_.erase(found);
}

const CUserConnections::List& CUserConnections::Of(std::string_view userId) const
{
    static const List kNone;
    const auto found = byUser_.find(userId);
    return found != byUser_.end() ? found->second : kNone;
}

} // namespace quorvel::service
