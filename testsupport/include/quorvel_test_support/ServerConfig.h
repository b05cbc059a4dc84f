#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::testsupport {

// The settings files of a quorveld program folder, as a test or a tool sets
// a server up: config/server.xml (this server on 127.0.0.1, its users, its
// route servers) and, when given, config/server.ini. Texts are UTF-8, as the
// directory file holds them. One thread.
class ServerConfig {
public:
    ServerConfig(std::string name, unsigned port, std::string description = {});
    // `port` as the directory file's text, for texts that are no usable port.
    ServerConfig(std::string name, std::string port, std::string description = {});

    // A user; `name` empty: the id.
    ServerConfig& AddUser(const std::string& id, const std::string& password, const std::string& friends = {},
                          const std::string& name = {});
    ServerConfig& AddRouteServer(const std::string& name, unsigned port);
    // The text of config/server.ini; empty (the default): no such file.
    ServerConfig& SetIni(std::string text);

    // The text of config/server.xml.
    std::string Xml() const;
    // Writes the files into <folder>/config, made when missing; false when
    // a file could not be written.
    bool WriteTo(const std::filesystem::path& folder) const;

private:
    std::string name_;
    std::string port_;
    std::string description_;
    std::vector<std::string> users_;   // <talker> entries
    std::vector<std::string> routes_;  // <server> entries of the route servers
    std::string ini_;
};

} // namespace quorvel::testsupport
