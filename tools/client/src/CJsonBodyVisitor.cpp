#include "CJsonBodyVisitor.h"

#include <marlune/CTalker.h>
#include <marlune/CTalkerServer.h>
#include <marlune/CXmlMsg.h>

namespace quorvel::client {

using marlune::CTalker;
using marlune::CTalkerServer;
using marlune::CXmlMsg;

void CJsonBodyVisitor::Text(const char* attribute, std::string& value)
{
    body_[attribute] = CXmlMsg::g2u(value);
}

void CJsonBodyVisitor::Content(std::string& value)
{
    if (keepContent_)
        content_ = CXmlMsg::g2u(value);
}

void CJsonBodyVisitor::Talker(CTalker& talker)
{
    talkers_.push_back(TalkerJson(talker));
}

void CJsonBodyVisitor::Talkers(std::vector<CTalker>& talkers)
{
    for (const CTalker& talker : talkers)
        talkers_.push_back(TalkerJson(talker));
}

void CJsonBodyVisitor::Server(CTalkerServer& server)
{
    nlohmann::ordered_json users = nlohmann::ordered_json::array();
    for (const auto& talker : server.Talkers())
        users.push_back(TalkerJson(*talker));
    server_ = {{"name", CXmlMsg::g2u(server.name)},
               {"ip", CXmlMsg::g2u(server.ip)},
               {"port", CXmlMsg::g2u(server.port)},
               {"description", CXmlMsg::g2u(server.description)},
               {"talkers", std::move(users)}};
}

void CJsonBodyVisitor::AddTo(nlohmann::ordered_json& json) const
{
    json["body"] = body_;
    if (content_)
        json["content"] = *content_;
    if (!talkers_.empty())
        json["talkers"] = talkers_;
    if (!server_.is_null())
        json["server"] = server_;
}

nlohmann::ordered_json CJsonBodyVisitor::TalkerJson(const CTalker& talker)
{
    return {{"userid", CXmlMsg::g2u(talker.userId)},
            {"name", CXmlMsg::g2u(talker.name)},
            {"sex", CXmlMsg::g2u(talker.sex)},
            {"tel", CXmlMsg::g2u(talker.tel)},
            {"password", CXmlMsg::g2u(talker.password)},
            {"statu", CXmlMsg::g2u(talker.statu)},
            {"friends", CXmlMsg::g2u(talker.friends)},
            {"server", CXmlMsg::g2u(talker.serverName)},
            {"serverdesc", CXmlMsg::g2u(talker.serverDesc)},
            {"memo", CXmlMsg::g2u(talker.memo)}};
}

} // namespace quorvel::client
