#include "CJsonBodyVisitor.h"

#include <marlune/CTalker.h>
#include <marlune/CTalkerServer.h>
#include <marlune/CXmlMsg.h>

void CJsonBodyVisitor::Text(const char* attribute, std::string& value)
{
    body_.Add(attribute, CXmlMsg::g2u(value));
}

void CJsonBodyVisitor::Content(std::string& value)
{
    if (!keepContent_)
        return;
    hasContent_ = true;
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
    std::vector<std::string> users;
    for (const auto& talker : server.talkers)
        users.push_back(TalkerJson(*talker));
    server_ = CJsonObject()
                  .Add("name", CXmlMsg::g2u(server.name))
                  .Add("ip", CXmlMsg::g2u(server.ip))
                  .Add("port", CXmlMsg::g2u(server.port))
                  .Add("description", CXmlMsg::g2u(server.description))
                  .AddRaw("talkers", CJsonObject::Array(users))
                  .Str();
}

void CJsonBodyVisitor::AddTo(CJsonObject& json) const
{
    json.AddRaw("body", body_.Str());
    if (hasContent_)
        json.Add("content", content_);
    if (!talkers_.empty())
        json.AddRaw("talkers", CJsonObject::Array(talkers_));
    if (!server_.empty())
        json.AddRaw("server", server_);
}

std::string CJsonBodyVisitor::TalkerJson(const CTalker& talker)
{
    return CJsonObject()
        .Add("userid", CXmlMsg::g2u(talker.userId))
        .Add("name", CXmlMsg::g2u(talker.name))
        .Add("sex", CXmlMsg::g2u(talker.sex))
        .Add("tel", CXmlMsg::g2u(talker.tel))
        .Add("password", CXmlMsg::g2u(talker.password))
        .Add("statu", CXmlMsg::g2u(talker.statu))
        .Add("friends", CXmlMsg::g2u(talker.friends))
        .Add("server", CXmlMsg::g2u(talker.serverName))
        .Add("serverdesc", CXmlMsg::g2u(talker.serverDesc))
        .Add("memo", CXmlMsg::g2u(talker.memo))
        .Str();
}
