#include "quorvel_client/CMessagePrinter.h"

#include "CJsonBodyVisitor.h"
#include "quorvel_client/CBase64.h"

#include <marlune/Marlune.h>

#include <nlohmann/json.hpp>

#include <cstdio>

namespace quorvel::client {

using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageHeart;
using marlune::CMessageServerPub;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CTalker;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;

namespace {

// The head members every JSON line starts with.
nlohmann::ordered_json HeadJson(const CMessageBase& head)
{
    nlohmann::ordered_json routed = nlohmann::ordered_json::array();
    for (const CTalkerServer& server : head.routedServers)
        routed.push_back(CXmlMsg::g2u(server.name));
    return {{"type", CXmlMsg::g2u(head.type)},     {"time", CXmlMsg::g2u(head.time)},
            {"source", CXmlMsg::g2u(head.source)}, {"target", CXmlMsg::g2u(head.target)},
            {"memo", CXmlMsg::g2u(head.memo)},     {"routed", std::move(routed)}};
}

// One line of JSON; bytes that are not UTF-8 become U+FFFD instead of
// failing the line.
std::string Line(const nlohmann::ordered_json& json)
{
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Address(const std::string& user, const std::string& server)
{
    return server.empty() ? user : user + "@" + server;
}

// Result text, with the error appended when there is one.
std::string Outcome(const std::string& result, const std::string& error)
{
    std::string text = CMessagePrinter::Show(result.empty() ? std::string("(no result)") : result);
    if (!error.empty())
        text += " - " + CMessagePrinter::Show(error);
    return text;
}

// A status as people read it: the protocol's "false" is a user gone offline.
std::string StatusText(const std::string& statu)
{
    return statu == "false" ? std::string("offline") : CMessagePrinter::Show(statu);
}

std::string TalkerText(const CTalker& talker)
{
    std::string text = CMessagePrinter::Show(Address(talker.userId, talker.serverName));
    if (!talker.name.empty())
        text += " \"" + CMessagePrinter::Show(talker.name) + "\"";
    if (!talker.statu.empty())
        text += " " + StatusText(talker.statu);
    return text;
}

std::string InforDetails(const CMessageUserInfor& m)
{
    // The server fills in the user's server only when it knows the user.
    if (m.server.empty() && m.name.empty() && m.talkers.empty())
        return CMessagePrinter::Show(m.user) + " is unknown";
    std::string text = CMessagePrinter::Show(m.user);
    if (!m.name.empty())
        text += " \"" + CMessagePrinter::Show(m.name) + "\"";
    text += " sex " + CMessagePrinter::Show(m.sex) + ", tel " + CMessagePrinter::Show(m.tel) + ", server " +
            CMessagePrinter::Show(m.server) + ", status " + StatusText(m.statu) + "; " +
            std::to_string(m.talkers.size()) + " friends";
    for (std::size_t i = 0; i < m.talkers.size(); ++i)
        text += (i == 0 ? ": " : ", ") + TalkerText(m.talkers[i]);
    return text;
}

std::string LoginDetails(const CMessageUserLogin& m)
{
    std::string text = CMessagePrinter::Show(m.userId);
    if (m.force == message_word::kTrue)
        text += " (forced)";
    return text + " " + Outcome(m.result, m.error);
}

std::string RegDetails(const CMessageUserReg& m)
{
    const char* what = m.modify == message_word::kTrue ? " modify " : " register ";
    return CMessagePrinter::Show(m.userId) + what + Outcome(m.result, m.error);
}

std::string FriendDetails(const CMessageUserFriend& m)
{
    const std::string asker = CMessagePrinter::Show(Address(m.asker.userId, m.asker.serverName));
    const std::string asked = CMessagePrinter::Show(Address(m.asked.userId, m.asked.serverName));
    std::string text;
    if (m.result == message_word::kSuccess)
        text = asker + " and " + asked + " are friends";
    else if (m.result.empty())
        text = asker + " asks " + asked + " to be friends";
    else
        text = asker + " -> " + asked + " result " + CMessagePrinter::Show(m.result);
    if (!m.text.empty())
        text += ": " + CMessagePrinter::Show(m.text);
    return text;
}

std::string FileDetails(const CMessageTransFile& m)
{
    std::string text = CMessagePrinter::Show(m.file) + " at " + CMessagePrinter::Show(m.offset) + " of " +
                       CMessagePrinter::Show(m.size) + " bytes";
    std::string bytes;
    if (CBase64::Decode(m.data, bytes))
        text += ", chunk " + std::to_string(bytes.size());
    else
        text += ", chunk not base64";
    if (!m.action.empty())
        text += " (" + CMessagePrinter::Show(m.action) + ")";
    return text;
}

} // namespace

std::string CMessagePrinter::OneLine(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string CMessagePrinter::Show(std::string_view gbk)
{
    return OneLine(CXmlMsg::g2u(gbk));
}

std::string CMessagePrinter::Prefix(const CMessageBase& head)
{
    std::string text = Show(head.type);
    if (!head.source.empty())
        text += " from " + Show(head.source);
    if (!head.target.empty())
        text += " to " + Show(head.target);
    return text + ": ";
}

std::string CMessagePrinter::Details(CMessageBase& msg)
{
    if (auto* m = dynamic_cast<CMessageUserTalking*>(&msg))
        return Show(m->text);
    if (auto* m = dynamic_cast<CMessageUserLogin*>(&msg))
        return LoginDetails(*m);
    if (auto* m = dynamic_cast<CMessageUserReg*>(&msg))
        return RegDetails(*m);
    if (auto* m = dynamic_cast<CMessageChangeStatu*>(&msg))
        return Show(Address(m->userId, m->server)) + " is now " + StatusText(m->statu);
    if (auto* m = dynamic_cast<CMessageUserFriend*>(&msg))
        return FriendDetails(*m);
    if (auto* m = dynamic_cast<CMessageTransFile*>(&msg))
        return FileDetails(*m);
    if (auto* m = dynamic_cast<CMessageHeart*>(&msg))
        return "sender " + Show(m->sender);
    if (auto* m = dynamic_cast<CMessageUserInfor*>(&msg))
        return InforDetails(*m);
    if (auto* m = dynamic_cast<CMessageUserList*>(&msg)) {
        std::string text = std::to_string(m->talkers.size()) + " users";
        if (m->online == message_word::kTrue)
            text += " online";
        else if (!m->filter.empty())
            text += " matching \"" + Show(m->filter) + "\"";
        for (std::size_t i = 0; i < m->talkers.size(); ++i)
            text += (i == 0 ? ": " : ", ") + TalkerText(m->talkers[i]);
        return text;
    }
    if (auto* m = dynamic_cast<CMessageServerPub*>(&msg))
        return "server " + Show(m->server.name) + " at " + Show(m->server.ip) + ":" + Show(m->server.port) +
               " with " + std::to_string(m->server.Talkers().size()) + " users";
    return {};
}

std::string CMessagePrinter::Text(CMessageBase& msg)
{
    return Prefix(msg) + Details(msg);
}

std::string CMessagePrinter::UnknownText(const CMessageBase& head)
{
    return Prefix(head) + "message of an unknown type";
}

std::string CMessagePrinter::UnreadableText(std::size_t length, std::string_view reason)
{
    return "unreadable message of " + std::to_string(length) + " bytes: " + OneLine(reason);
}

std::string CMessagePrinter::Json(CMessageBase& msg)
{
    auto* file = dynamic_cast<CMessageTransFile*>(&msg);
    CJsonBodyVisitor visitor(file == nullptr);
    msg.VisitBody(visitor);
    nlohmann::ordered_json json = HeadJson(msg);
    visitor.AddTo(json);
    std::string bytes;
    if (file != nullptr && CBase64::Decode(file->data, bytes))
        json["chunk"] = bytes.size();
    return Line(json);
}

std::string CMessagePrinter::UnknownJson(const CMessageBase& head)
{
    nlohmann::ordered_json json = HeadJson(head);
    json["known"] = false;
    return Line(json);
}

std::string CMessagePrinter::UnreadableJson(std::size_t length, std::string_view reason)
{
    return Line({{"type", ""}, {"unreadable", true}, {"length", length}, {"reason", reason}});
}

std::string CMessagePrinter::FileSavedText(const std::string& file, std::uintmax_t size, const std::string& source)
{
    return "saved file " + OneLine(file) + " (" + std::to_string(size) + " bytes) from " + OneLine(source);
}

std::string CMessagePrinter::FileSavedJson(const std::string& file, std::uintmax_t size, const std::string& source)
{
    return Line({{"event", "file-saved"}, {"file", file}, {"size", size}, {"source", source}});
}

} // namespace quorvel::client
