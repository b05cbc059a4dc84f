#include "quorvel_client/CRequestBuilder.h"

#include <marlune/MessageWords.h>

#include <ctime>

namespace quorvel::client {

using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageHeart;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
namespace message_word = marlune::message_word;

std::string CRequestBuilder::Now()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void CRequestBuilder::Stamp(CMessageBase& msg, std::string_view target) const
{
    msg.time = Now();
    msg.source = me_.Address();
    msg.target.assign(target);
}

std::unique_ptr<CMessageUserLogin> CRequestBuilder::Login(std::string_view address, std::string_view password,
                                                          std::string_view statu) const
{
    auto msg = std::make_unique<CMessageUserLogin>();
    Stamp(*msg, {});
    std::string server;
    CClientIdentity::Split(address, msg->userId, server);
    msg->source.assign(address);
    msg->password.assign(password);
    msg->statu.assign(statu.empty() ? std::string_view(kDefaultStatus) : statu);
    msg->client = kClientName;
    return msg;
}

std::unique_ptr<CMessageUserLogin> CRequestBuilder::ForceLogin(std::string_view address, std::string_view name,
                                                               std::string_view password,
                                                               std::string_view statu) const
{
    auto msg = Login(address, password, statu);
    msg->name.assign(name);
    msg->force = message_word::kTrue;
    return msg;
}

std::unique_ptr<CMessageUserReg> CRequestBuilder::Register(std::string_view userId, std::string_view name,
                                                           std::string_view sex, std::string_view password,
                                                           std::string_view tel, bool modify) const
{
    auto msg = std::make_unique<CMessageUserReg>();
    Stamp(*msg, {});
    if (msg->source.empty())
        msg->source.assign(userId);
    msg->userId.assign(userId);
    msg->name.assign(name);
    msg->sex.assign(sex);
    msg->password.assign(password);
    msg->tel.assign(tel);
    if (modify)
        msg->modify = message_word::kTrue;
    return msg;
}

std::unique_ptr<CMessageChangeStatu> CRequestBuilder::Status(std::string_view statu) const
{
    auto msg = std::make_unique<CMessageChangeStatu>();
    Stamp(*msg, {});
    msg->userId = me_.userId;
    msg->server = me_.server;
    msg->statu.assign(statu);
    return msg;
}

std::unique_ptr<CMessageUserTalking> CRequestBuilder::Talk(std::string_view target, std::string_view text) const
{
    auto msg = std::make_unique<CMessageUserTalking>();
    Stamp(*msg, target);
    msg->text.assign(text);
    return msg;
}

std::unique_ptr<CMessageUserInfor> CRequestBuilder::Infor(std::string_view address) const
{
    auto msg = std::make_unique<CMessageUserInfor>();
    Stamp(*msg, {});
    msg->user.assign(address);
    return msg;
}

std::unique_ptr<CMessageUserList> CRequestBuilder::List(std::string_view filter, bool online) const
{
    auto msg = std::make_unique<CMessageUserList>();
    Stamp(*msg, {});
    msg->userId = me_.userId;
    msg->filter.assign(filter);
    if (online)
        msg->online = message_word::kTrue;
    return msg;
}

std::unique_ptr<CMessageUserFriend> CRequestBuilder::FriendRequest(std::string_view target,
                                                                   std::string_view text) const
{
    auto msg = std::make_unique<CMessageUserFriend>();
    Stamp(*msg, target);
    msg->text.assign(text);
    msg->asker.userId = me_.userId;
    msg->asker.serverName = me_.server;
    CClientIdentity::Split(target, msg->asked.userId, msg->asked.serverName);
    return msg;
}

std::unique_ptr<CMessageUserFriend> CRequestBuilder::FriendAccept(const CMessageUserFriend& request) const
{
    auto msg = std::make_unique<CMessageUserFriend>();
    std::string target = request.asker.userId;
    if (!request.asker.serverName.empty())
        target += "@" + request.asker.serverName;
    Stamp(*msg, target);
    msg->result = message_word::kSuccess;
    msg->text = request.text;
    msg->asker = request.asker;
    msg->asked = request.asked;
    msg->asker.password.clear();
    msg->asked.password.clear();
    return msg;
}

std::unique_ptr<CMessageHeart> CRequestBuilder::Heart() const
{
    auto msg = std::make_unique<CMessageHeart>();
    Stamp(*msg, {});
    msg->sender = me_.LoggedIn() ? me_.Address() : std::string(kClientName);
    return msg;
}

std::unique_ptr<CMessageTransFile> CRequestBuilder::FileChunk(std::string_view target, std::string_view file,
                                                              std::uint64_t size, std::uint64_t offset,
                                                              std::string_view action, std::string base64) const
{
    auto msg = std::make_unique<CMessageTransFile>();
    Stamp(*msg, target);
    msg->file.assign(file);
    msg->size = std::to_string(size);
    msg->offset = std::to_string(offset);
    msg->action.assign(action);
    msg->data = std::move(base64);
    return msg;
}

} // namespace quorvel::client
