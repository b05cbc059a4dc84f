#include "CRegistrationHandler.h"

#include "quorvel_service/CHandlerContext.h"
#include "CLoginHandler.h"
#include "quorvel_service/CServerRegistry.h"
#include "quorvel_service/CUserSender.h"
#include "ServiceTexts.h"

#include "marlune/CMessageUserReg.h"
#include "marlune/MessageWords.h"
#include "scrivlet/CLog4c.h"

#include <array>
#include <utility>

namespace quorvel::service {

using corvane::CMyRASSocket;
using marlune::CMessageUserReg;
using marlune::CTalker;
namespace message_word = marlune::message_word;
using scrivlet::CLog4c;

namespace {

// Characters a registration refuses in a user id, each looked for by itself;
// "/" separates the entries of a friend list.
constexpr const char* kRegRefusedChars = "~!@#$%^&*/";
constexpr std::array<const char*, 7> kReservedIds = {"ADMIN",   "SERVICE",  "SERVER", "GROUP",
                                                     "MEETING", "BRANTLEX", "NORVEX"};
constexpr const char* kExistsError = "用户账号已经存在!";
constexpr const char* kReservedError = "用户帐号不能包含特殊单词!";

} // namespace

std::string CRegistrationHandler::AsciiUpper(const std::string& userId)
{
    std::string upper = userId;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool CRegistrationHandler::IsReserved(const std::string& userId)
{
    const std::string upper = AsciiUpper(userId);
    for (const char* reserved : kReservedIds) {
        if (upper == reserved)
            return true;
    }
    return false;
}

void CRegistrationHandler::OnUserReg(CMessageUserReg* message, CMyRASSocket* socket)
{
    if (message == nullptr)
        return;
    CLog4c& log = context_.log;
    log.LogEvent(0, "用户 %s 注册新用户消息!", message->userId.c_str());
    const bool modify = message->modify == message_word::kTrue;

    // Every check runs; the text of the last failing one stands.
    bool ok = true;
    CTalker* talker = context_.registry.FindTalker(message->userId);
    if (talker != nullptr && !modify) {
        message->error = kExistsError;
        ok = false;
    }
    if (message->userId.find_first_of(kRegRefusedChars) != std::string::npos) {
        message->error = service_text::kBadCharsError;
        ok = false;
    }
    if (IsReserved(message->userId)) {
        message->error = kReservedError;
        ok = false;
    }
    if (!CServiceLimits::ProfileFits(message->name, message->sex, message->tel, message->password)) {
        context_.Counters().CountRefused("ProfileFieldBytes");
        message->error = service_text::kProfileTooLongError;
        ok = false;
    }
    if (!CLoginHandler::FitsLimits(message->userId, message->name)) {
        message->error = service_text::kTooLongError;
        ok = false;
    }
    if (message->userId.empty()) {
        message->error = service_text::kEmptyIdError;
        ok = false;
    }

    if (ok && talker == nullptr) {
        // The registry finds users by the id they were added with.
        CTalker created;
        created.userId = message->userId;
        talker = context_.registry.Local().AddTalker(std::move(created));
        ok = talker != nullptr;
    }
    if (ok) {
        talker->name = message->name;
        talker->tel = message->tel;
        talker->password = message->password;
        talker->sex = message->sex;
        talker->serverName = context_.registry.Local().name;
    }
    message->result = ok ? message_word::kSuccess : message_word::kFailed;
    context_.sender.SendMessageOn(socket, *message);
    log.LogEvent(0, "用户 %s %s %s信息 %s !", message->userId.c_str(), message->name.c_str(),
                 modify ? "修改" : "注册", message->result.c_str());
    context_.RunConfigHook();
}

} // namespace quorvel::service
