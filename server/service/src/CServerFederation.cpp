#include "CServerFederation.h"

#include "quorvel_service/CHandlerContext.h"
#include "quorvel_service/CServerRegistry.h"
#include "quorvel_store/MsgIndexLayout.h"
#include "ServiceTexts.h"

#include "corvane/CMyRASServer.h"
#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"

#include <algorithm>
#include <memory>

namespace quorvel::service {

using corvane::CFrameSender;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageServerPub;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using store::FitsField;
namespace MsgIndexLayout = store::MsgIndexLayout;
using scrivlet::CLog4c;

namespace {

constexpr int kError = 2;

} // namespace

CServerFederation::~CServerFederation()
{
    for (const auto& announcement : announcements_)
        announcement.sender.Cancel();
}

bool CServerFederation::AnnouncedNameRefused(const std::string& name) const
{
    CLog4c& log = context_.log;
    if (const char forbidden = CTalkerServer::ForbiddenNameChar(name)) {
        log.LogEvent(0, "新宣告的服务器[%s]名包含特殊字符'%c'", name.c_str(), forbidden);
        return true;
    }
    // Stored messages carry the server name in a fixed field: a longer name
    // could never be stored whole, and its users' messages would be lost.
    if (!FitsField(name, MsgIndexLayout::kServerNameField)) {
        log.LogEvent(kError, "新宣告的服务器[%s]名超过 %u 字节,已忽略", name.c_str(),
                     static_cast<unsigned>(MsgIndexLayout::kServerNameField - 1));
        return true;
    }
    return false;
}

void CServerFederation::OnServerPub(CMessageServerPub* message)
{
    if (message == nullptr)
        return;
    CLog4c& log = context_.log;
    const CTalkerServer& announced = message->server;
    const std::string& name = announced.name;
    if (AnnouncedNameRefused(name) || name == context_.registry.Local().name)
        return;

    auto& neighbors = context_.registry.Neighbors();
    auto known = std::find_if(neighbors.begin(), neighbors.end(), [&](const auto& n) { return n->name == name; });
    if (known != neighbors.end())
        neighbors.erase(known);
    else if (!RoomForNeighbor(name))
        return;

    auto record = std::make_unique<CTalkerServer>(announced.Identity());
    log.LogEvent(0, "好友服务器 %s / %s /%s /%s 上线!", record->name.c_str(), record->ip.c_str(),
                 record->port.c_str(), record->description.c_str());
    const std::size_t most = context_.limits.maxAnnouncedUsers;
    for (const auto& talker : announced.Talkers()) {
        if (record->Talkers().size() >= most) {
            LogUsersCut(name, announced.Talkers().size());
            break;
        }
        log.LogEvent(0, "用户名:%s 姓名:%s 性别:%s 电话:%s 密码:%s 好友:%s", talker->userId.c_str(),
                     talker->name.c_str(), talker->sex.c_str(), talker->tel.c_str(), service_text::kMaskedPassword,
                     talker->friends.c_str());
        record->AddTalker(*talker);
    }
    neighbors.push_back(std::move(record));
    context_.RunConfigHook();
}

bool CServerFederation::RoomForNeighbor(const std::string& name)
{
    const std::size_t most = context_.limits.maxNeighbors;
    if (context_.registry.Neighbors().size() < most)
        return true;
    context_.Counters().CountRefused("MaxNeighbors");
    if (capLines_.Allow("neighbors", ""))
        context_.log.LogEvent(kError, "好友服务器已达上限 %zu 个,新宣告的服务器[%s]已忽略", most, name.c_str());
    return false;
}

void CServerFederation::LogUsersCut(const std::string& name, std::size_t announced)
{
    context_.Counters().CountRefused("MaxAnnouncedUsers");
    if (capLines_.Allow("announced users", ""))
        context_.log.LogEvent(kError, "服务器[%s]宣告了 %zu 个用户,超过上限 %zu 个,只保留前 %zu 个", name.c_str(),
                              announced, context_.limits.maxAnnouncedUsers, context_.limits.maxAnnouncedUsers);
}

void CServerFederation::AnnounceToRouteServers()
{
    const CTalkerServer& local = context_.registry.Local();
    CMessageServerPub announcement;
    announcement.server = local;
    const std::string bytes = CXmlMsg().BuildBytes(announcement);
    if (bytes.empty())
        return;

    std::erase_if(announcements_, [](const Announcement& a) {
        return a.sender.State() != CFrameSender::Result::kPending;
    });
    CLog4c& log = context_.log;
    for (const auto& route : context_.registry.RouteServers()) {
        const std::string address = route->ip + ":" + route->port;
        const bool underWay = std::any_of(announcements_.begin(), announcements_.end(),
                                          [&](const Announcement& a) { return a.address == address; });
        if (underWay) {
            log.LogEvent(0, "上次通知路由服务器:%s/%s/%s 尚未完成,本次跳过", route->name.c_str(), route->ip.c_str(),
                         route->port.c_str());
            continue;
        }
        CFrameSender::Request request;
        request.host = route->ip;
        request.port = static_cast<int>(route->PortNumber());
        request.payload = bytes;
        request.limits = {kConnectLimit, kStallLimit, kTotalLimit};
        request.log = endpoint_.GetLogEvent();
        request.onConnected = [&log, name = route->name, ip = route->ip, port = route->port,
                               description = route->description] {
            log.LogEvent(0, "本服务器上线后通知路由服务器:%s/%s/%s/%s", name.c_str(), ip.c_str(), port.c_str(),
                         description.c_str());
        };
        announcements_.push_back({address, CFrameSender::Start(endpoint_.Loop(), std::move(request))});
    }
}

bool CServerFederation::RouteMessage(CMessageBase* message)
{
    if (message == nullptr)
        return false;
    context_.log.LogEvent(0, "准备路由消息,object:%s target:%s source:%s", message->type.c_str(),
                          message->target.c_str(), message->source.c_str());
    if (const std::optional<bool> settled = Settled(*message, context_.registry.Local().name))
        return *settled;
    // Forwarding waits for peers, which the loop must never do: the routing
    // thread takes the message up from the store, behind those before it.
    const std::string bytes = CXmlMsg().BuildBytes(*message);
    return !bytes.empty() && file_ && file_(*message, bytes);
}

std::optional<bool> CServerFederation::Settled(const CMessageBase& message, const std::string& localName)
{
    if (message.type == CMessageChangeStatu::kType || message.DetachTargetServerName() == localName)
        return false;
    if (message.target.empty())
        return true;
    return std::nullopt;
}

} // namespace quorvel::service
