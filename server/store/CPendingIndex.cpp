#include "CPendingIndex.h"

void CPendingIndex::Add(std::uint32_t record, const std::string& targetUser, const std::string& targetServer)
{
    ServerPending& server = byServer[targetServer];
    if (server.records.insert(record).second) {
        server.byUser[targetUser].insert(record);
        ++size;
    }
}

void CPendingIndex::Remove(std::uint32_t record, const std::string& targetUser, const std::string& targetServer)
{
    const auto server = byServer.find(targetServer);
    if (server == byServer.end() || server->second.records.erase(record) == 0)
        return;
    --size;
    const auto user = server->second.byUser.find(targetUser);
    if (user != server->second.byUser.end()) {
        user->second.erase(record);
        if (user->second.empty())
            server->second.byUser.erase(user);
    }
    if (server->second.records.empty())
        byServer.erase(server);
}

void CPendingIndex::Clear()
{
    byServer.clear();
    size = 0;
}

std::optional<std::uint32_t> CPendingIndex::FirstForUser(const std::string& userId, const std::string& serverName) const
{
    const auto server = byServer.find(serverName);
    if (server == byServer.end())
        return std::nullopt;
    const auto user = server->second.byUser.find(userId);
    if (user == server->second.byUser.end())
        return std::nullopt;
    return *user->second.begin();
}

std::optional<std::uint32_t> CPendingIndex::FirstForRoute(const std::string& localServer) const
{
    std::optional<std::uint32_t> first;
    for (const auto& [name, server] : byServer) {
        if (name == localServer)
            continue;
        const std::uint32_t candidate = *server.records.begin();
        if (!first || candidate < *first)
            first = candidate;
    }
    return first;
}
