#include "quorvel_service/CServerRegistry.h"

#include "marlune/CMessageBase.h"
#include "marlune/CTalkerServer.h"
#include "scrivlet/CLog4c.h"

#include <string>

namespace quorvel::service {

using marlune::CMessageBase;
using marlune::CTalker;

CTalker* CServerRegistry::FindTalker(std::string_view address) const
{
    CMessageBase head;
    head.target = std::string(address);
    const std::string serverName = head.DetachTargetServerName();
    const std::string userId = head.DetachTargetUserId();
    if (serverName.empty() || serverName == local_.name) {
        if (CTalker* talker = local_.GetTalkerByUserID(userId))
            return talker;
    }
    for (const auto& neighbor : neighbors_) {
        if (!serverName.empty() && serverName != neighbor->name)
            continue;
        if (CTalker* talker = neighbor->GetTalkerByUserID(userId))
            return talker;
    }
    return nullptr;
}

bool CServerRegistry::IsRoutedHere(const CMessageBase& message) const
{
    return message.GetRouteServerByName(local_.name) != nullptr;
}

bool CServerRegistry::MarkForRouting(CMessageBase& message) const
{
    const std::string serverName = message.DetachTargetServerName();
    if (serverName.empty() || serverName == local_.name)
        return false;
    log_.LogEvent(0, "target:%s local:%s 该消息被加入路由消息队列.", serverName.c_str(), local_.name.c_str());
    message.route = 1;
    return true;
}

} // namespace quorvel::service
