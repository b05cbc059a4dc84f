#include "CLoginHandler.h"

#include "quorvel_service/CHandlerContext.h"
#include "quorvel_service/CServerRegistry.h"
#include "CStatusHandler.h"
#include "quorvel_service/CUserSender.h"
#include "quorvel_store/MsgIndexLayout.h"
#include "ServiceTexts.h"

#include "corvane/CMyRASSocket.h"
#include "corvane/Callbacks.h"
#include "marlune/CMessageChangeStatu.h"
#include "marlune/CMessageUserLogin.h"
#include "marlune/MessageWords.h"
#include "scrivlet/CLog4c.h"

#include <cstring>

namespace quorvel::service {

using corvane::CMyRASSocket;
using corvane::ON_WS_DISCONNECTED;
using marlune::CMessageChangeStatu;
using marlune::CMessageUserLogin;
using marlune::CTalker;
namespace message_word = marlune::message_word;
using store::FitsField;
namespace MsgIndexLayout = store::MsgIndexLayout;
using scrivlet::CLog4c;

namespace {

// Characters a login refuses in a user id; "$" is allowed here.
constexpr const char* kLoginRefusedChars = "~!@#%^&*";
constexpr const char* kOffline = "false";

} // namespace

bool CLoginHandler::FitsLimits(const std::string& userId, const std::string& userName)
{
    static_assert(MsgIndexLayout::kUserIdField <= sizeof CMyRASSocket::userId,
                  "an id the store holds must fit a connection's field");
    return FitsField(userId, MsgIndexLayout::kUserIdField) && userName.size() <= CServiceLimits::kMaxNameBytes;
}

const char* CLoginHandler::ForcedIdError(const std::string& userId)
{
    if (!FitsLimits(userId, {}))
        return service_text::kTooLongError;
    if (userId.empty())
        return service_text::kEmptyIdError;
    if (userId.find('/') != std::string::npos)
        return service_text::kBadCharsError;
    return nullptr;
}

void CLoginHandler::Refuse(CMessageUserLogin& message, CMyRASSocket* socket, const char* error)
{
    message.result = message_word::kFailed;
    message.error = error;
    context_.sender.SendMessageOn(socket, message);
}

void CLoginHandler::Bind(CMyRASSocket& socket, const std::string& userId, const std::string* userName)
{
    context_.sender.BindUser(socket, userId);
    if (userName != nullptr) {
        std::memset(socket.userName, 0, sizeof socket.userName);
        std::memcpy(socket.userName, userName->data(), userName->size());
    }
}

bool CLoginHandler::RoomForConnection(const std::string& userId, const CMyRASSocket* socket)
{
    std::size_t bound = 0;
    for (const CMyRASSocket* connection : context_.sender.ConnectionsOf(userId)) {
        if (connection != socket && connection->active)
            ++bound;
    }
    const std::size_t most = context_.limits.maxConnectionsPerUser;
    if (bound < most)
        return true;
    context_.Counters().CountRefused("MaxConnectionsPerUser");
    const std::string address = socket != nullptr ? socket->PeerAddress() : std::string();
    if (refusals_.Allow("connections-per-user", address))
        context_.log.LogEvent(0, "用户 %s 的连接数已达上限 %zu，登录被拒绝", userId.c_str(), most);
    return false;
}

void CLoginHandler::AnnounceStatus(CTalker& talker, const std::string& statu)
{
    CMessageChangeStatu change;
    change.type = CMessageChangeStatu::kType;
    change.userId = talker.userId;
    change.server = talker.serverName;
    change.statu = statu;
    status_.NotifyFriends(&talker, &change);
}

void CLoginHandler::OnUserLogin(CMessageUserLogin* message, CMyRASSocket* socket)
{
    if (message == nullptr)
        return;
    if (message->userId.find_first_of(kLoginRefusedChars) != std::string::npos) {
        Refuse(*message, socket, service_text::kBadCharsError);
        return;
    }
    if (message->force == message_word::kTrue) {
        OnForceLogin(message, socket);
        return;
    }

    CLog4c& log = context_.log;
    CTalker* found = context_.registry.Local().GetTalkerByLogin(message->userId, message->password);
    if (found != nullptr && !FitsLimits(found->userId, found->name)) {
        log.LogEvent(0, "用户 %s 的账号或姓名太长,不能登录!", message->userId.c_str());
        Refuse(*message, socket, service_text::kTooLongError);
        return;
    }
    if (found != nullptr && !RoomForConnection(found->userId, socket)) {
        Refuse(*message, socket, service_text::kTooManyConnectionsError);
        return;
    }
    message->result = message_word::kFailed;
    if (found != nullptr) {
        CServiceLimits::CutStatu(message->statu);
        found->statu = message->statu;
        message->result = message_word::kSuccess;
        log.LogEvent(0, "用户 %s 以密码 %s 登录成功!", message->userId.c_str(), service_text::kMaskedPassword);
    } else {
        log.LogEvent(0, "用户 %s 以密码 %s 登录失败，用户名或者密码错误!", message->userId.c_str(),
                     service_text::kMaskedPassword);
    }
    context_.sender.SendMessageOn(socket, *message);
    if (found == nullptr)
        return;
    if (socket != nullptr)
        Bind(*socket, found->userId, &found->name);
    AnnounceStatus(*found, found->statu);
}

void CLoginHandler::OnForceLogin(CMessageUserLogin* message, CMyRASSocket* socket)
{
    if (message == nullptr)
        return;
    CLog4c& log = context_.log;
    if (const char* error = ForcedIdError(message->userId)) {
        log.LogEvent(0, "用户 [%s] 强制登录被拒绝:%s", message->userId.c_str(), error);
        Refuse(*message, socket, error);
        return;
    }
    if (!CServiceLimits::ProfileFits(message->name, message->sex, message->tel, message->password)) {
        context_.Counters().CountRefused("ProfileFieldBytes");
        log.LogEvent(0, "用户 [%s] 强制登录被拒绝:%s", message->userId.c_str(), service_text::kProfileTooLongError);
        Refuse(*message, socket, service_text::kProfileTooLongError);
        return;
    }
    if (!RoomForConnection(message->userId, socket)) {
        Refuse(*message, socket, service_text::kTooManyConnectionsError);
        return;
    }
    CServiceLimits::CutStatu(message->statu);
    log.LogEvent(0, "用户 %s[%s] 强制登录成功!", message->userId.c_str(), message->name.c_str());
    if (CTalker* talker = context_.registry.Local().GetTalkerByUserID(message->userId)) {
        talker->statu = message->statu;
        talker->name = message->name;
        talker->password = message->password;
        talker->sex = message->sex;
        talker->tel = message->tel;
    } else {
        CTalker created;
        created.userId = message->userId;
        created.name = message->name.empty() ? message->userId : message->name;
        created.sex = message->sex;
        created.tel = message->tel;
        created.password = message->password;
        created.serverName = context_.registry.Local().name;
        context_.registry.Local().AddTalker(created);
    }
    context_.RunConfigHook();
    message->result = message_word::kSuccess;
    context_.sender.SendMessageOn(socket, *message);
    if (socket != nullptr)
        Bind(*socket, message->userId, nullptr);
}

void CLoginHandler::OnWsDisconnected(ON_WS_DISCONNECTED* para)
{
    if (para == nullptr || para->socket == nullptr)
        return;
    const std::string userId = context_.sender.UnbindUser(*para->socket);
    if (userId.empty())
        return;
    CTalker* talker = context_.registry.Local().GetTalkerByUserID(userId);
    if (talker == nullptr)
        return;
    talker->statu = kOffline;
    AnnounceStatus(*talker, kOffline);
}

} // namespace quorvel::service
