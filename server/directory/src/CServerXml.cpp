#include "quorvel_directory/CServerXml.h"

#include "AtomicFile.h"

#include <marlune/CMessageBase.h>
#include <scrivlet/CLog4c.h>
#include <scrivlet/GbkText.h>
#include <scrivlet/LogText.h>

#include <exception>
#include <string_view>

namespace quorvel::directory {

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CTalker;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using scrivlet::CLog4c;
using scrivlet::ErrorText;

namespace {

constexpr int kInfo = 0;

constexpr const char* kServerElement = "server";
constexpr const char* kNeighborElement = "neighbor";
constexpr const char* kRouteServerElement = "route-server";
constexpr const char* kTalkerElement = "talker";

struct ServerField {
    const char* attribute;
    std::string CTalkerServer::*member;
};

// Server attributes, in the order they are written.
constexpr ServerField kServerFields[] = {
    {"name", &CTalkerServer::name},
    {"ip", &CTalkerServer::ip},
    {"port", &CTalkerServer::port},
    {"description", &CTalkerServer::description},
};

struct TalkerField {
    const char* attribute;
    std::string CTalker::*member;
    bool readBack;
};

// User attributes, in the order they are written. The status is written so
// the file shows it, but a restart begins every user at the initial status.
constexpr TalkerField kTalkerFields[] = {
    {"userid", &CTalker::userId, true},
    {"name", &CTalker::name, true},
    {"sex", &CTalker::sex, true},
    {"tel", &CTalker::tel, true},
    {"password", &CTalker::password, true},
    {"friends", &CTalker::friends, true},
    {"statu", &CTalker::statu, false},
};

bool Named(const tinyxml2::XMLElement& element, const char* name)
{
    return std::string_view(element.Name()) == name;
}

void WriteTalker(tinyxml2::XMLElement& parent, const CTalker& talker)
{
    tinyxml2::XMLElement* element = parent.InsertNewChildElement(kTalkerElement);
    for (const TalkerField& field : kTalkerFields)
        element->SetAttribute(field.attribute, CXmlMsg::g2u(talker.*field.member).c_str());
}

void WriteServer(tinyxml2::XMLElement& parent, const CTalkerServer& server, bool withUsers)
{
    tinyxml2::XMLElement* element = parent.InsertNewChildElement(kServerElement);
    for (const ServerField& field : kServerFields)
        element->SetAttribute(field.attribute, CXmlMsg::g2u(server.*field.member).c_str());
    if (!withUsers)
        return;
    for (const auto& talker : server.Talkers()) {
        if (talker)
            WriteTalker(*element, *talker);
    }
}

} // namespace

CServerXml::CServerXml(CLog4c& log) : log_(log) {}

int CServerXml::LoadConfig(const std::string& path, CTalkerServer& local, ServerList& neighbors,
                           ServerList& routeServers)
{
    try {
        tinyxml2::XMLDocument doc;
        const bool parsed = doc.LoadFile(path.c_str()) == tinyxml2::XML_SUCCESS;
        const tinyxml2::XMLElement* root = parsed ? doc.FirstChildElement() : nullptr;
        if (root == nullptr) {
            log_.LogEvent(kInfo, "配置文件 %s 有错误!", path.c_str());
            if (doc.Error())
                LogError(doc.ErrorStr());
            return 0;
        }
        neighbors.clear();
        routeServers.clear();
        for (const auto* child = root->FirstChildElement(); child != nullptr;
             child = child->NextSiblingElement()) {
            if (Named(*child, kServerElement))
                ReadServer(*child, local);
            else if (Named(*child, kNeighborElement))
                ReadNeighbors(*child, neighbors);
            else if (Named(*child, kRouteServerElement))
                ReadRouteServers(*child, routeServers);
        }
        return 1;
    } catch (const std::exception& e) {
        LogError(e.what());
        return 0;
    }
}

void CServerXml::ReadServer(const tinyxml2::XMLElement& element, CTalkerServer& server)
{
    for (const auto* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
        for (const ServerField& field : kServerFields) {
            if (std::string_view(attribute->Name()) == field.attribute)
                server.*field.member = u2gb(attribute->Value());
        }
    }
    log_.LogEvent(kInfo, "读取到服务器 %s / %s / %s / %s", server.name.c_str(), server.ip.c_str(),
                  server.port.c_str(), server.description.c_str());
    for (const auto* child = element.FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement())
        ReadTalker(*child, server);
    log_.LogEvent(kInfo, "一共读取到了 %d 个用户记录", static_cast<int>(server.Talkers().size()));
}

void CServerXml::ReadTalker(const tinyxml2::XMLElement& element, CTalkerServer& server)
{
    CTalker talker;
    talker.serverName = server.name;
    talker.serverDesc = server.description;
    for (const auto* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
        for (const TalkerField& field : kTalkerFields) {
            if (field.readBack && std::string_view(attribute->Name()) == field.attribute)
                talker.*field.member = u2gb(attribute->Value());
        }
    }
    const CTalker* stored = server.AddTalker(talker);
    if (stored == nullptr)
        return;
    log_.LogEvent(kInfo, "用户名:%s 姓名:%s 性别:%s 电话:%s 密码:%s 状态:%s 好友:%s", stored->userId.c_str(),
                  stored->name.c_str(), stored->sex.c_str(), stored->tel.c_str(), "******",
                  stored->statu.c_str(), stored->friends.c_str());
}

void CServerXml::ReadNeighbors(const tinyxml2::XMLElement& element, ServerList& neighbors)
{
    ReadServerList(element, neighbors);
    log_.LogEvent(kInfo, "一共读取到了 %d 个好友服务器", static_cast<int>(neighbors.size()));
}

void CServerXml::ReadRouteServers(const tinyxml2::XMLElement& element, ServerList& routeServers)
{
    ReadServerList(element, routeServers);
    log_.LogEvent(kInfo, "一共读取到了 %d 个路由服务器", static_cast<int>(routeServers.size()));
}

void CServerXml::ReadServerList(const tinyxml2::XMLElement& element, ServerList& servers)
{
    for (const auto* child = element.FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        servers.push_back(std::make_unique<CTalkerServer>());
        ReadServer(*child, *servers.back());
    }
}

std::size_t CServerXml::BuildConfig(BX_DATA* out, const CTalkerServer& local, const ServerList& neighbors,
                                    const ServerList& routeServers)
{
    if (out == nullptr)
        return 0;
    try {
        tinyxml2::XMLDocument doc;
        tinyxml2::XMLElement* root = createXmlHead(doc, CMessageBase());
        if (root == nullptr) {
            LogError("directory file: no root element could be made");
            return 0;
        }
        tinyxml2::XMLElement* neighborElement = root->InsertNewChildElement(kNeighborElement);
        for (const auto& server : neighbors) {
            if (server)
                WriteServer(*neighborElement, *server, true);
        }
        tinyxml2::XMLElement* routeElement = root->InsertNewChildElement(kRouteServerElement);
        for (const auto& server : routeServers) {
            if (server)
                WriteServer(*routeElement, *server, false);
        }
        WriteServer(*root, local, true);
        const std::size_t length = Doc2Buff(out, doc);
        if (length == 0)
            LogError("directory file: " + LastError());
        return length;
    } catch (const std::exception& e) {
        out->Free();
        LogError(e.what());
        return 0;
    }
}

int CServerXml::SaveConfig(const std::string& path, const CTalkerServer& local, const ServerList& neighbors,
                           const ServerList& routeServers)
{
    try {
        BX_DATA built;
        if (BuildConfig(&built, local, neighbors, routeServers) == 0)
            return 0;
        std::string error;
        if (!ReplaceFileAtomically(path, built.buff, kFileMode, error)) {
            LogError(error);
            return 0;
        }
        return 1;
    } catch (const std::exception& e) {
        LogError(e.what());
        return 0;
    }
}

void CServerXml::LogError(const std::string& text)
{
    log_.LogEvent(ErrorText(text).c_str());
}

} // namespace quorvel::directory
