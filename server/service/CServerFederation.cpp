#include "CServerFederation.h"

#include "CChatServer.h"
#include "ServiceTexts.h"

#include "corvane/CMyRASServer_Client.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <algorithm>
#include <exception>
#include <memory>

namespace {

constexpr int kMaxPort = 65535;

// Connects to route, runs onConnected, sends the bytes as one frame and
// disconnects. The send result; 0 when the connection failed. The client's
// own lines go to transportLog.
template <class OnConnected>
int SendOnce(const CTalkerServer& route, const std::string& bytes, RAS_LOG_CALLBACK transportLog,
             OnConnected onConnected)
{
    CMyRASServer_Client client;
    client.SetLogEvent(transportLog);
    if (!client.ConnectToServer(route.ip, CServerFederation::PortNumber(route.port)))
        return 0;
    onConnected();
    const int sent = client.SendBuff(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    client.DisConnect();
    return sent;
}

// The built bytes of message, "" when nothing was built.
std::string BuildBytes(CMessageBase& message)
{
    BX_DATA bx(&message);
    CXmlMsg codec;
    if (codec.BuildXml(&bx) == 0)
        return {};
    return std::move(bx.buff);
}

} // namespace

void CServerFederation::OnServerPub(CMessageServerPub* message)
{
    if (message == nullptr)
        return;
    CLog4c& log = service_.Log();
    const CTalkerServer& announced = message->server;
    const std::string& name = announced.name;
    if (name.find('@') != std::string::npos) {
        log.LogEvent(0, "新宣告的服务器[%s]名包含特殊字符'@'", name.c_str());
        return;
    }
    if (name.find('/') != std::string::npos) {
        log.LogEvent(0, "新宣告的服务器[%s]名包含特殊字符'/'", name.c_str());
        return;
    }
    if (name == service_.localServer.name)
        return;

    auto& neighbors = service_.neighbors;
    auto known = std::find_if(neighbors.begin(), neighbors.end(), [&](const auto& n) { return n->name == name; });
    if (known != neighbors.end())
        neighbors.erase(known);

    auto record = std::make_unique<CTalkerServer>();
    record->name = name;
    record->ip = announced.ip;
    record->port = announced.port;
    record->description = announced.description;
    log.LogEvent(0, "好友服务器 %s / %s /%s /%s 上线!", record->name.c_str(), record->ip.c_str(),
                 record->port.c_str(), record->description.c_str());
    for (const auto& talker : announced.talkers) {
        log.LogEvent(0, "用户名:%s 姓名:%s 性别:%s 电话:%s 密码:%s 好友:%s", talker->userId.c_str(),
                     talker->name.c_str(), talker->sex.c_str(), talker->tel.c_str(), service_text::kMaskedPassword,
                     talker->friends.c_str());
        record->AddTalker(*talker);
    }
    neighbors.push_back(std::move(record));
    service_.RunConfigHook();
}

void CServerFederation::AnnounceToRouteServers()
{
    const CTalkerServer& local = service_.localServer;
    CMessageServerPub announcement;
    announcement.server.name = local.name;
    announcement.server.ip = local.ip;
    announcement.server.port = local.port;
    announcement.server.description = local.description;
    for (const auto& talker : local.talkers)
        announcement.server.AddTalker(*talker);
    const std::string bytes = BuildBytes(announcement);
    if (bytes.empty())
        return;

    CLog4c& log = service_.Log();
    for (const auto& route : service_.routeServers) {
        SendOnce(*route, bytes, service_.GetLogEvent(), [&] {
            log.LogEvent(0, "本服务器上线后通知路由服务器:%s/%s/%s/%s", route->name.c_str(), route->ip.c_str(),
                         route->port.c_str(), route->description.c_str());
        });
    }
}

bool CServerFederation::RouteMessage(CMessageBase* message)
{
    if (message == nullptr)
        return false;
    return RouteMessage(service_.Log(), service_.TakeSnapshot(), *message);
}

bool CServerFederation::IsRoutable(const CMessageBase& message, const std::string& localName)
{
    if (message.type == CMessageChangeStatu::kType)
        return false;
    return message.DetachTargetServerName() != localName;
}

bool CServerFederation::RouteMessage(CLog4c& log, const CServiceSnapshot& routes, CMessageBase& message)
{
    try {
        log.LogEvent(0, "准备路由消息,object:%s target:%s source:%s", message.type.c_str(), message.target.c_str(),
                     message.source.c_str());
        if (!IsRoutable(message, routes.localName))
            return false;
        if (message.target.empty())
            return true;
        // The copy that goes out names this server, so no route server
        // passes it back here or on to another server that already had it.
        if (message.GetRouteServerByName(routes.localName) == nullptr) {
            CTalkerServer self;
            self.name = routes.localName;
            message.AddRoutedServer(self);
        }
        bool result = false;
        for (const auto& route : routes.routeServers) {
            if (message.GetRouteServerByName(route.name) == nullptr)
                result = SendToRouteServer(log, routes, message, route) != 0 || result;
            else if (routes.routeServers.size() == 1)
                result = true;
        }
        return result;
    } catch (const std::exception& error) {
        log.LogEvent(std::string(error.what()).substr(0, CLog4c::kMaxErrorText).c_str());
        return false;
    }
}

int CServerFederation::SendToRouteServer(CLog4c& log, const CServiceSnapshot& routes, CMessageBase& message,
                                         const CTalkerServer& route)
{
    const std::string bytes = BuildBytes(message);
    if (bytes.empty() || message.GetRouteServerByName(route.name) != nullptr)
        return 0;
    return SendOnce(route, bytes, routes.transportLog, [&] {
        log.LogEvent(0, "消息: %s 路由到路由服务器:%s[%s]", message.memo.c_str(), route.name.c_str(), route.ip.c_str());
    });
}

int CServerFederation::PortNumber(std::string_view text)
{
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        port = port * 10 + (c - '0');
        if (port > kMaxPort)
            return 0;
    }
    return port;
}
