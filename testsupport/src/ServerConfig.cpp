#include "quorvel_test_support/ServerConfig.h"

#include <fstream>
#include <system_error>

namespace quorvel::testsupport {

namespace {

bool WriteFile(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

} // namespace

ServerConfig::ServerConfig(std::string name, unsigned port, std::string description)
    : ServerConfig(std::move(name), std::to_string(port), std::move(description))
{
}

ServerConfig::ServerConfig(std::string name, std::string port, std::string description)
    : name_(std::move(name)), port_(std::move(port)), description_(std::move(description))
{
}

ServerConfig& ServerConfig::AddUser(const std::string& id, const std::string& password, const std::string& friends,
                                    const std::string& name)
{
    users_.push_back("<talker userid=\"" + id + "\" name=\"" + (name.empty() ? id : name) +
                     "\" sex=\"\" tel=\"\" password=\"" + password + "\" friends=\"" + friends +
                     "\" statu=\"\"/>\n");
    return *this;
}

ServerConfig& ServerConfig::AddRouteServer(const std::string& name, unsigned port)
{
    routes_.push_back("<server name=\"" + name + "\" ip=\"127.0.0.1\" port=\"" + std::to_string(port) +
                      "\" description=\"\"/>\n");
    return *this;
}

ServerConfig& ServerConfig::SetIni(std::string text)
{
    ini_ = std::move(text);
    return *this;
}

std::string ServerConfig::Xml() const
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<msg>\n<neighbor/>\n<route-server>\n";
    for (const auto& route : routes_)
        xml += route;
    xml += "</route-server>\n<server name=\"" + name_ + "\" ip=\"127.0.0.1\" port=\"" + port_ + "\" description=\"" +
           description_ + "\">\n";
    for (const auto& user : users_)
        xml += user;
    xml += "</server>\n</msg>\n";
    return xml;
}

bool ServerConfig::WriteTo(const std::filesystem::path& folder) const
{
    std::error_code error;
    std::filesystem::create_directories(folder / "config", error);
    return !error && WriteFile(folder / "config/server.xml", Xml()) &&
           (ini_.empty() || WriteFile(folder / "config/server.ini", ini_));
}

} // namespace quorvel::testsupport
