#include "CStatusHandler.h"

#include "quorvel_service/CHandlerContext.h"
#include "CQueryHandler.h"
#include "quorvel_service/CServerRegistry.h"
#include "quorvel_service/CUserSender.h"
#include "ServiceTexts.h"

#include "corvane/CMyRASSocket.h"
#include "marlune/CCmdExp.h"
#include "marlune/CMessageChangeStatu.h"
#include "marlune/CMessageUserFriend.h"
#include "marlune/CMessageUserInfor.h"
#include "marlune/CXmlMsg.h"
#include "marlune/MessageWords.h"
#include "scrivlet/CLog4c.h"

#include <string>

namespace quorvel::service {

using marlune::CCmdExp;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CTalker;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;
using store::CDeliveryReceipt;
using scrivlet::CLog4c;

namespace {

std::string Address(const CTalker& party)
{
    return party.userId + "@" + party.serverName;
}

} // namespace

void CStatusHandler::OnChangeStatu(CMessageChangeStatu* message)
{
    if (message == nullptr)
        return;
    CLog4c& log = context_.log;
    log.LogEvent("用户在线状态消息，暂时不路由到其它服务器...");
    CServiceLimits::CutStatu(message->statu);
    CTalker* talker = nullptr;
    if (message->server == context_.registry.Local().name) {
        talker = context_.registry.Local().SetTalkerStatu(message->userId, message->statu);
    } else {
        for (const auto& neighbor : context_.registry.Neighbors()) {
            if (neighbor->name == message->server) {
                talker = neighbor->SetTalkerStatu(message->userId, message->statu);
                break;
            }
        }
    }
    log.LogEvent(0, "用户 %s 修改状态 %s@%s 成功!", message->userId.c_str(), message->server.c_str(),
                 message->statu.c_str());
    if (talker != nullptr)
        NotifyFriends(talker, message);
}

void CStatusHandler::NotifyFriends(const CTalker* talker, CMessageBase* message)
{
    if (talker == nullptr || message == nullptr)
        return;
    const std::string bytes = CXmlMsg().BuildBytes(*message);
    if (bytes.empty())
        return;
    const auto length = static_cast<std::uint32_t>(bytes.size());

    if (context_.SendAllFriend()) {
        // A user bound to k connections is met k times and each time sent to
        // on all k, as the setting has always behaved.
        for (const auto& connection : context_.sender.Connections()) {
            const std::string userId = CUserSender::BoundUserId(*connection);
            if (!userId.empty() && userId != talker->userId)
                context_.sender.SendToUser(userId, bytes.data(), length);
        }
        return;
    }
    // Each local friend's connections (a friend listed twice gets it twice):
    // the cost is the friends', not the server's connections.
    CCmdExp items(talker->friends, "/");
    for (std::string item = items.GetNextItem(); !item.empty(); item = items.GetNextItem()) {
        const CTalker* friendRecord = context_.registry.FindTalker(item);
        if (friendRecord != nullptr && friendRecord->serverName == context_.registry.Local().name &&
            friendRecord->userId != talker->userId)
            context_.sender.SendToUser(friendRecord->userId, bytes.data(), length);
    }
}

bool CStatusHandler::RoomForFriend(const CTalker* talker, const std::string& address)
{
    if (talker == nullptr || talker->HasFriend(address) || talker->FriendCount() < context_.limits.maxFriends)
        return true;
    context_.Counters().CountRefused("MaxFriends");
    // One line per user and minute at most: a flood of friendships must not
    // flood the log as well.
    if (friendCapLines_.Allow("friends", talker->userId))
        context_.log.LogEvent(0, "用户 %s 的好友已达上限 %zu,好友关系未记录!", talker->userId.c_str(),
                              context_.limits.maxFriends);
    return false;
}

void CStatusHandler::PushProfile(const CTalker& party)
{
    if (party.serverName != context_.registry.Local().name)
        return;
    CMessageUserInfor infor;
    infor.type = CMessageUserInfor::kType;
    infor.user = party.userId;
    query_.OnUserInfor(&infor, nullptr);
}

bool CStatusHandler::OnUserFriend(CMessageUserFriend* message, CDeliveryReceipt* receipt)
{
    if (message == nullptr)
        return false;
    if (context_.registry.MarkForRouting(*message))
        return false;
    if (message->result == message_word::kSuccess) {
        const std::string asker = Address(message->asker);
        const std::string asked = Address(message->asked);
        CTalker* askerRecord = context_.registry.FindTalker(asker);
        CTalker* askedRecord = context_.registry.FindTalker(asked);
        if (RoomForFriend(askerRecord, asked) && RoomForFriend(askedRecord, asker)) {
            if (askerRecord != nullptr)
                askerRecord->AddFriend(asked);
            if (askedRecord != nullptr)
                askedRecord->AddFriend(asker);
        }
        context_.RunConfigHook();
        PushProfile(message->asker);
        PushProfile(message->asked);
    }
    return context_.sender.SendMessageToUser(message->DetachTargetUserId(), *message, receipt) != 0;
}

} // namespace quorvel::service
