#include "quorvel_client/CClientSession.h"

#include "quorvel_client/CBase64.h"
#include "quorvel_client/CClientOutput.h"
#include "quorvel_client/CFileChunker.h"
#include "quorvel_client/CMessagePrinter.h"

#include <marlune/Marlune.h>

#include <limits>

namespace quorvel::client {

using marlune::CMessageBase;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;

namespace {

constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();

} // namespace

CClientSession::CClientSession(Sender send, CClientOutput& output, bool json, std::filesystem::path downloads)
    : send_(std::move(send)), out_(output), json_(json), files_(std::move(downloads))
{
}

const std::map<std::string, CClientSession::Command>& CClientSession::Commands()
{
    static const std::map<std::string, Command> commands = {
        {"login", {&CClientSession::Login, 2, 3, "login ID[@SERVER] PASSWORD [STATUS]", false}},
        {"force", {&CClientSession::Force, 1, 3, "force ID[@SERVER] [NAME [PASSWORD]]", false}},
        {"register", {&CClientSession::Register, 5, 5, "register ID NAME SEX PASSWORD TEL", false}},
        {"modify", {&CClientSession::Modify, 4, 5, "modify [ID] NAME SEX PASSWORD TEL", false}},
        {"status", {&CClientSession::Status, 1, kAny, "status TEXT", false}},
        {"say", {&CClientSession::Say, 2, kAny, "say ADDRESS TEXT...", false}},
        {"file", {&CClientSession::File, 2, 2, "file ADDRESS PATH", false}},
        {"info", {&CClientSession::Info, 1, 1, "info ADDRESS", false}},
        {"list", {&CClientSession::List, 0, kAny, "list [FILTER]", false}},
        {"online", {&CClientSession::Online, 0, 0, "online", false}},
        {"friend", {&CClientSession::Friend, 1, kAny, "friend ADDRESS [TEXT...]", false}},
        {"accept", {&CClientSession::Accept, 1, 1, "accept ADDRESS", false}},
        {"heart", {&CClientSession::Heart, 0, 0, "heart", false}},
        {"help", {&CClientSession::Help, 0, 0, "help", true}},
    };
    return commands;
}

const char* CClientSession::HelpText()
{
    return "commands:\n"
           "  login ID[@SERVER] PASSWORD [STATUS]   log in (status defaults to \"online\")\n"
           "  force ID[@SERVER] [NAME [PASSWORD]]   forced login: creates or overwrites the user\n"
           "  register ID NAME SEX PASSWORD TEL     register a new user\n"
           "  modify [ID] NAME SEX PASSWORD TEL     change a user (without ID: your own)\n"
           "  status TEXT                           change your status\n"
           "  say ADDRESS TEXT...                   send a chat message\n"
           "  file ADDRESS PATH                     send a file\n"
           "  info ADDRESS                          a user's profile and friends\n"
           "  list [FILTER]                         users whose name holds FILTER\n"
           "  online                                users logged in\n"
           "  friend ADDRESS [TEXT...]              ask a user to be your friend\n"
           "  accept ADDRESS                        accept that user's friend request\n"
           "  heart                                 send a heartbeat\n"
           "  wait SECONDS                          pause, printing what arrives\n"
           "  expect TYPE [SECONDS]                 wait for the next message of TYPE (default 5 s)\n"
           "  quit                                  end the session\n"
           "ADDRESS is user@server; a bare user means a user of your own server.";
}

CClientSession::Step CClientSession::Execute(std::string_view line)
{
    try {
        return Run(line);
    } catch (const std::exception& error) {
        Fail(std::string("command failed: ") + error.what());
        return Step::kContinue;
    }
}

CClientSession::Step CClientSession::Run(std::string_view line)
{
    CCommandLine cmd;
    std::string error;
    if (!cmd.Parse(line, error)) {
        Fail(error);
        return Step::kContinue;
    }
    if (cmd.Empty())
        return Step::kContinue;
    if (cmd.Verb() == "quit" || cmd.Verb() == "exit")
        return Step::kQuit;
    const auto found = Commands().find(cmd.Verb());
    if (found == Commands().end()) {
        Fail("unknown command \"" + cmd.Verb() + "\" (try help)");
        return Step::kContinue;
    }
    const Command& command = found->second;
    if (cmd.Count() < command.minArgs || cmd.Count() > command.maxArgs) {
        Fail(std::string("usage: ") + command.usage);
        return Step::kContinue;
    }
    if (AnswersDue() && !command.local)
        return Step::kWait;
    (this->*command.handler)(cmd);
    return Step::kContinue;
}

void CClientSession::Fail(std::string_view text)
{
    ++failures_;
    out_.Error(text);
}

void CClientSession::AnswersOverdue()
{
    if (!AnswersDue())
        return;
    Fail(loginsDue_ > 0 ? "no answer to the login came in time" : "no answer to the registration came in time");
    loginsDue_ = 0;
    changesDue_ = 0;
}

bool CClientSession::Send(CMessageBase& msg)
{
    if (send_(msg))
        return true;
    Fail("could not send the " + msg.type + " request");
    return false;
}

void CClientSession::SendAwaiting(CMessageBase& msg, std::size_t& due)
{
    if (Send(msg))
        ++due;
}

bool CClientSession::ToGbk(std::string_view utf8, std::string& gbk)
{
    gbk = CXmlMsg::u2gb(utf8);
    if (gbk.empty() && !utf8.empty()) {
        Fail("input is not valid UTF-8 text");
        return false;
    }
    return true;
}

bool CClientSession::RequireLogin()
{
    if (me_.LoggedIn())
        return true;
    Fail(loginRefused_ ? "not logged in: the login was refused" : "not logged in (use login first)");
    return false;
}

bool CClientSession::DeliveryAddress(std::string_view typed, std::string& address)
{
    std::string gbk;
    if (!ToGbk(typed, gbk))
        return false;
    address = me_.Resolve(gbk);
    std::string user;
    std::string server;
    CClientIdentity::Split(address, user, server);
    if (user.empty() || server.empty()) {
        Fail("give the address as user@server");
        return false;
    }
    return true;
}

std::string CClientSession::FreeText(const CCommandLine& cmd, std::size_t i)
{
    return cmd.Count() == i + 1 ? cmd.Arg(i) : cmd.Rest(i);
}

void CClientSession::Login(const CCommandLine& cmd)
{
    std::string address;
    std::string password;
    std::string statu;
    if (!ToGbk(cmd.Arg(0), address) || !ToGbk(cmd.Arg(1), password) ||
        !ToGbk(cmd.Count() > 2 ? cmd.Arg(2) : "", statu))
        return;
    pendingLogin_ = address;
    SendAwaiting(*builder_.Login(address, password, statu), loginsDue_);
}

void CClientSession::Force(const CCommandLine& cmd)
{
    std::string address;
    std::string name;
    std::string password;
    if (!ToGbk(cmd.Arg(0), address) || !ToGbk(cmd.Count() > 1 ? cmd.Arg(1) : "", name) ||
        !ToGbk(cmd.Count() > 2 ? cmd.Arg(2) : "", password))
        return;
    pendingLogin_ = address;
    SendAwaiting(*builder_.ForceLogin(address, name, password, {}), loginsDue_);
}

void CClientSession::Register(const CCommandLine& cmd)
{
    std::string f[5];
    for (std::size_t i = 0; i < 5; ++i) {
        if (!ToGbk(cmd.Arg(i), f[i]))
            return;
    }
    SendAwaiting(*builder_.Register(f[0], f[1], f[2], f[3], f[4], false), changesDue_);
}

void CClientSession::Modify(const CCommandLine& cmd)
{
    const bool own = cmd.Count() == 4;
    if (own && !RequireLogin())
        return;
    std::string f[5];
    f[0] = me_.userId;
    for (std::size_t i = own ? 1 : 0; i < 5; ++i) {
        if (!ToGbk(cmd.Arg(own ? i - 1 : i), f[i]))
            return;
    }
    SendAwaiting(*builder_.Register(f[0], f[1], f[2], f[3], f[4], true), changesDue_);
}

void CClientSession::Status(const CCommandLine& cmd)
{
    std::string statu;
    if (!RequireLogin() || !ToGbk(FreeText(cmd, 0), statu))
        return;
    Send(*builder_.Status(statu));
}

void CClientSession::Say(const CCommandLine& cmd)
{
    std::string target;
    std::string text;
    if (!RequireLogin() || !DeliveryAddress(cmd.Arg(0), target) || !ToGbk(FreeText(cmd, 1), text))
        return;
    Send(*builder_.Talk(target, text));
}

void CClientSession::File(const CCommandLine& cmd)
{
    std::string target;
    if (!RequireLogin() || !DeliveryAddress(cmd.Arg(0), target))
        return;
    CFileChunker chunker;
    std::string error;
    std::string name;
    if (!chunker.Open(cmd.Arg(1), error) || !ToGbk(chunker.Name(), name)) {
        if (!error.empty())
            Fail(error);
        return;
    }
    CFileChunker::Chunk chunk;
    std::size_t count = 0;
    while (chunker.Next(chunk, error)) {
        auto msg = builder_.FileChunk(target, name, chunker.Size(), chunk.offset, chunk.Action(),
                                      CBase64::Encode(chunk.bytes));
        if (!send_(*msg)) {
            Fail("sending " + chunker.Name() + " stopped at byte " + std::to_string(chunk.offset));
            return;
        }
        ++count;
    }
    if (!error.empty()) {
        Fail(error);
        return;
    }
    out_.Notice("sent " + chunker.Name() + " (" + std::to_string(chunker.Size()) + " bytes, " +
                std::to_string(count) + " chunks) to " + CXmlMsg::g2u(target));
}

void CClientSession::Info(const CCommandLine& cmd)
{
    std::string address;
    if (!ToGbk(cmd.Arg(0), address))
        return;
    Send(*builder_.Infor(address));
}

void CClientSession::List(const CCommandLine& cmd)
{
    std::string filter;
    if (!RequireLogin() || !ToGbk(FreeText(cmd, 0), filter))
        return;
    Send(*builder_.List(filter, false));
}

void CClientSession::Online(const CCommandLine&)
{
    if (RequireLogin())
        Send(*builder_.List({}, true));
}

void CClientSession::Friend(const CCommandLine& cmd)
{
    std::string target;
    std::string text;
    if (!RequireLogin() || !DeliveryAddress(cmd.Arg(0), target) || !ToGbk(FreeText(cmd, 1), text))
        return;
    Send(*builder_.FriendRequest(target, text));
}

void CClientSession::Accept(const CCommandLine& cmd)
{
    std::string asker;
    if (!RequireLogin() || !DeliveryAddress(cmd.Arg(0), asker))
        return;
    const auto found = friendRequests_.find(asker);
    if (found == friendRequests_.end()) {
        Fail("no friend request from " + CXmlMsg::g2u(asker));
        return;
    }
    auto reply = builder_.FriendAccept(found->second);
    friendRequests_.erase(found);
    Send(*reply);
}

void CClientSession::Heart(const CCommandLine&)
{
    Send(*builder_.Heart());
}

void CClientSession::Help(const CCommandLine&)
{
    out_.Notice(HelpText());
}

std::size_t CClientSession::ReceivedCount(const std::string& type) const
{
    const auto found = received_.find(type);
    return found == received_.end() ? 0 : found->second;
}

void CClientSession::Receive(const std::uint8_t* data, std::size_t length)
{
    try {
        Handle(data, length);
    } catch (const std::exception& error) {
        out_.Error(std::string("a received message could not be handled: ") + error.what());
    }
}

void CClientSession::Handle(const std::uint8_t* data, std::size_t length)
{
    // The codec leaves the head untouched unless the payload is a
    // well-formed message, and no parsed text can hold a zero byte.
    static const std::string kUnset("\0unset", 6);
    CMessageBase head;
    head.memo = kUnset;
    CXmlMsg codec;
    std::unique_ptr<CMessageBase> msg = codec.ParseXmlNew(data, length, &head);
    if (msg != nullptr) {
        ++received_[msg->type];
        OnMessage(*msg);
    } else if (head.memo != kUnset) {
        ++received_[head.type];
        out_.Line(json_ ? CMessagePrinter::UnknownJson(head) : CMessagePrinter::UnknownText(head));
    } else {
        ++received_[""];
        out_.Line(json_ ? CMessagePrinter::UnreadableJson(length, codec.LastError())
                        : CMessagePrinter::UnreadableText(length, codec.LastError()));
    }
}

void CClientSession::OnMessage(CMessageBase& msg)
{
    out_.Line(json_ ? CMessagePrinter::Json(msg) : CMessagePrinter::Text(msg));
    if (msg.type == CMessageUserLogin::kType)
        OnLoginReply(msg);
    else if (msg.type == CMessageUserReg::kType)
        OnRegReply(msg);
    else if (msg.type == CMessageUserFriend::kType)
        OnFriend(static_cast<const CMessageUserFriend&>(msg));
    else if (msg.type == CMessageTransFile::kType)
        OnFileChunk(msg);
}

void CClientSession::OnLoginReply(const CMessageBase& msg)
{
    const auto& reply = static_cast<const CMessageUserLogin&>(msg);
    if (loginsDue_ > 0)
        --loginsDue_;
    loginRefused_ = reply.result != message_word::kSuccess;
    if (loginRefused_) {
        std::string text = "login refused for " + CXmlMsg::g2u(reply.userId);
        if (!reply.error.empty())
            text += ": " + CXmlMsg::g2u(reply.error);
        Fail(text);
        return;
    }
    me_.TakeLogin(reply.userId, pendingLogin_, reply);
}

void CClientSession::OnRegReply(const CMessageBase& msg)
{
    const auto& reply = static_cast<const CMessageUserReg&>(msg);
    if (changesDue_ > 0)
        --changesDue_;
    if (reply.result == message_word::kSuccess)
        return;
    std::string text = (reply.modify == message_word::kTrue ? "change of " : "registration of ") +
                       CXmlMsg::g2u(reply.userId) + " refused";
    if (!reply.error.empty())
        text += ": " + CXmlMsg::g2u(reply.error);
    Fail(text);
}

void CClientSession::OnFriend(const CMessageUserFriend& msg)
{
    constexpr std::size_t kMaxRequests = 1000;
    if (!msg.result.empty() || msg.asked.userId != me_.userId || friendRequests_.size() >= kMaxRequests)
        return;
    std::string asker = msg.asker.userId;
    if (!msg.asker.serverName.empty())
        asker += "@" + msg.asker.serverName;
    friendRequests_.insert_or_assign(me_.Resolve(asker), msg);
}

void CClientSession::OnFileChunk(CMessageBase& msg)
{
    const CFileReceiver::Outcome outcome = files_.Accept(static_cast<const CMessageTransFile&>(msg));
    const std::string source = CXmlMsg::g2u(msg.source);
    if (outcome.status == CFileReceiver::Status::kRefused) {
        out_.Error("file chunk from " + source + " refused: " + outcome.detail);
        return;
    }
    if (outcome.status != CFileReceiver::Status::kSaved)
        return;
    const std::string name = outcome.saved.filename().string();
    out_.Line(json_ ? CMessagePrinter::FileSavedJson(name, outcome.size, source)
                    : CMessagePrinter::FileSavedText(name, outcome.size, source));
}

} // namespace quorvel::client
