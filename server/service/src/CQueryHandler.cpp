#include "CQueryHandler.h"

#include "quorvel_service/CHandlerContext.h"
#include "quorvel_service/CServerRegistry.h"
#include "quorvel_service/CUserSender.h"
#include "ServiceTexts.h"

#include "marlune/CCmdExp.h"
#include "marlune/CMessageUserInfor.h"
#include "marlune/CMessageUserList.h"
#include "marlune/MessageWords.h"
#include "scrivlet/CLog4c.h"

#include <cstddef>
#include <string>

namespace quorvel::service {

using corvane::CMyRASSocket;
using marlune::CCmdExp;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CTalker;
namespace message_word = marlune::message_word;
using scrivlet::CLog4c;

namespace {

// A user record as other users may see it: everything but the password.
CTalker PublicCopy(const CTalker& talker)
{
    CTalker copy = talker;
    copy.password.clear();
    return copy;
}

bool NameMatches(const CTalker& talker, const std::string& filter)
{
    return filter.empty() || talker.name.find(filter) != std::string::npos;
}

// The bytes a record adds to an answer, before conversion and escaping:
// its texts and room for its element and attribute names.
std::size_t RecordBytes(const CTalker& talker)
{
    constexpr std::size_t kMarkup = 128;
    return kMarkup + talker.userId.size() + talker.name.size() + talker.sex.size() + talker.tel.size() +
           talker.statu.size() + talker.friends.size() + talker.serverName.size() + talker.serverDesc.size() +
           talker.memo.size();
}

} // namespace

bool CQueryHandler::Offer(ListAnswer& answer, const CTalker& talker) const
{
    ++answer.matched;
    const std::size_t bytes = RecordBytes(talker);
    if (answer.full || answer.talkers.size() >= context_.limits.maxListAnswerUsers ||
        answer.bytes + bytes > CServiceLimits::kMaxListAnswerBytes) {
        if (!answer.full)
            context_.Counters().CountRefused("MaxListAnswerUsers");
        answer.full = true;
        return false;
    }
    answer.bytes += bytes;
    answer.talkers.push_back(PublicCopy(talker));
    return true;
}

bool CQueryHandler::RepliesToOwner(const CTalker& talker, const CMyRASSocket* socket)
{
    // Only users of this server log in here, so only their records can have
    // an owner among the connections.
    if (context_.registry.Local().GetTalkerByUserID(talker.userId) != &talker)
        return false;
    return socket == nullptr || CUserSender::BoundUserId(*socket) == talker.userId;
}

void CQueryHandler::AddFriendRecords(CMessageUserInfor& message, const CTalker& talker)
{
    ListAnswer answer{message.talkers};
    if (context_.SendAllFriend()) {
        for (const auto& user : context_.registry.Local().Talkers()) {
            if (user->userId != message.user)
                Offer(answer, *user);
        }
        for (const auto& neighbor : context_.registry.Neighbors()) {
            for (const auto& user : neighbor->Talkers())
                Offer(answer, *user);
        }
        return;
    }
    CCmdExp items(talker.friends, "/");
    for (std::string item = items.GetNextItem(); !item.empty(); item = items.GetNextItem()) {
        if (const CTalker* friendRecord = context_.registry.FindTalker(item))
            Offer(answer, *friendRecord);
    }
}

void CQueryHandler::OnUserInfor(CMessageUserInfor* message, CMyRASSocket* socket)
{
    if (message == nullptr)
        return;
    context_.log.LogEvent(0, "用户 %s 查询用户信息!", message->user.c_str());
    if (const CTalker* talker = context_.registry.FindTalker(message->user)) {
        message->user = talker->userId;
        message->name = talker->name;
        message->password = RepliesToOwner(*talker, socket) ? talker->password : std::string();
        message->sex = talker->sex;
        message->statu = talker->statu;
        message->tel = talker->tel;
        message->server = context_.registry.Local().name;
        message->memo = talker->memo;
        AddFriendRecords(*message, *talker);
    }
    if (socket != nullptr)
        context_.sender.SendMessageOn(socket, *message);
    else
        context_.sender.SendMessageToUser(message->user, *message);
}

void CQueryHandler::OnUserList(CMessageUserList* message, CMyRASSocket* socket)
{
    if (message == nullptr)
        return;
    CLog4c& log = context_.log;
    log.LogEvent(0, "查询用户列表信息,按 %s 过滤!", message->filter.c_str());
    std::size_t matched = 0;
    if (message->online == message_word::kTrue) {
        matched = ListOnlineUsers(message);
    } else {
        ListAnswer answer{message->talkers};
        for (const auto& user : context_.registry.Local().Talkers()) {
            if (user->userId == message->userId || !NameMatches(*user, message->filter) ||
                user->userId.find('$') != std::string::npos)
                continue;
            Offer(answer, *user);
        }
        for (const auto& neighbor : context_.registry.Neighbors()) {
            for (const auto& user : neighbor->Talkers()) {
                if (NameMatches(*user, message->filter))
                    Offer(answer, *user);
            }
        }
        matched = answer.matched;
    }
    // More matches than entries tell the client the answer was cut.
    message->count = std::to_string(matched);
    if (matched > message->talkers.size())
        log.LogEvent(0, "用户列表过长,只发送前 %zu 条记录", message->talkers.size());
    log.LogEvent(0, "用户信息列表,共检索到 %s 条记录", message->count.c_str());
    if (socket != nullptr)
        context_.sender.SendMessageOn(socket, *message);
    else
        context_.sender.SendMessageToUser(message->userId, *message);
}

std::size_t CQueryHandler::ListOnlineUsers(CMessageUserList* message)
{
    if (message == nullptr)
        return 0;
    ListAnswer answer{message->talkers};
    for (const auto& connection : context_.sender.Connections()) {
        const std::string userId = CUserSender::BoundUserId(*connection);
        if (userId.empty())
            continue;
        if (const CTalker* talker = context_.registry.FindTalker(userId))
            Offer(answer, *talker);
    }
    return answer.matched;
}

} // namespace quorvel::service
