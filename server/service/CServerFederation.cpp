#include "CServerFederation.h"

#include "CChatServer.h"

#include "marlune/CMessageServerPub.h"
#include "scrivlet/CLog4c.h"

void CServerFederation::OnServerPub(CMessageServerPub* message)
{
    if (message == nullptr)
        return;
    service_.Log().LogEvent(0, "服务器宣告暂不处理,已忽略:%s", message->server.name.c_str());
}

void CServerFederation::AnnounceToRouteServers()
{
    if (!service_.routeServers.empty())
        service_.Log().LogEvent("路由功能尚未开启,未通知路由服务器.");
}

bool CServerFederation::RouteMessage(CMessageBase* message)
{
    if (message == nullptr)
        return false;
    // Reads only the message and the log: safe on the worker's thread.
    service_.Log().LogEvent(0, "路由功能尚未开启,消息保留待发:%s target:%s", message->type.c_str(),
                            message->target.c_str());
    return false;
}
