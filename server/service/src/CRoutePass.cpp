#include "quorvel_service/CRoutePass.h"

#include "CServerFederation.h"

#include "corvane/CFrameSender.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"
#include "scrivlet/LogText.h"

#include <exception>
#include <optional>
#include <utility>

namespace quorvel::service {

using corvane::CFrameSender;
using marlune::CMessageBase;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using store::CMessageRouter;
using store::CServiceSnapshot;
using scrivlet::CLog4c;
using scrivlet::ErrorText;

CRoutePass::CRoutePass(CLog4c& log, const CServiceSnapshot& routes, std::stop_token stop)
    : log_(log), routes_(routes), stop_(std::move(stop)), failed_(routes.routeServers.size(), false)
{
}

std::unique_ptr<CMessageRouter> CRoutePass::Start(CLog4c& log, const CServiceSnapshot& routes, std::stop_token stop)
{
    return std::make_unique<CRoutePass>(log, routes, std::move(stop));
}

bool CRoutePass::RouteMessage(CMessageBase& message)
{
    try {
        log_.LogEvent(0, "准备路由消息,object:%s target:%s source:%s", message.type.c_str(), message.target.c_str(),
                      message.source.c_str());
        if (const std::optional<bool> settled = CServerFederation::Settled(message, routes_.localName))
            return *settled;
        // The copy that goes out names this server, so no route server
        // passes it back here or on to another server that already had it.
        if (message.GetRouteServerByName(routes_.localName) == nullptr) {
            CTalkerServer self;
            self.name = routes_.localName;
            message.AddRoutedServer(self);
        }
        return Forward(message);
    } catch (const std::exception& error) {
        log_.LogEvent(ErrorText(error.what()).c_str());
        return false;
    }
}

bool CRoutePass::Forward(CMessageBase& message)
{
    const auto& servers = routes_.routeServers;
    bool result = false;
    std::string bytes;
    std::vector<std::pair<std::size_t, CFrameSender>> sends;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (message.GetRouteServerByName(servers[i].name) != nullptr) {
            result = result || servers.size() == 1;
            continue;
        }
        if (failed_[i] || routes_.loop == nullptr)
            continue;
        if (bytes.empty())
            bytes = CXmlMsg().BuildBytes(message);
        if (bytes.empty())
            return result;
        sends.emplace_back(i, SendToRouteServer(message, bytes, servers[i]));
    }
    for (const auto& [i, send] : sends) {
        if (send.Wait(stop_) == CFrameSender::Result::kSent)
            result = true;
        else
            failed_[i] = true;
    }
    return result;
}

CFrameSender CRoutePass::SendToRouteServer(const CMessageBase& message, const std::string& bytes,
                                           const CTalkerServer& route) const
{
    CFrameSender::Request request;
    request.host = route.ip;
    request.port = static_cast<int>(route.PortNumber());
    request.payload = bytes;
    request.limits = {kConnectLimit, kStallLimit, kTotalLimit};
    request.log = routes_.transportLog;
    request.onConnected = [&log = log_, memo = message.memo, name = route.name, ip = route.ip] {
        log.LogEvent(0, "消息: %s 路由到路由服务器:%s[%s]", memo.c_str(), name.c_str(), ip.c_str());
    };
    return CFrameSender::Start(*routes_.loop, std::move(request));
}

} // namespace quorvel::service
