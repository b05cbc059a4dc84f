#include "CPendingIndex.h"

#include <iterator>

void CPendingIndex::Add(std::uint32_t record, const std::string& targetUser, const std::string& targetServer)
{
    const auto [at, added] = targets.emplace(record, Target{targetUser, targetServer});
    if (added)
        Wait(record, at->second);
}

void CPendingIndex::Remove(std::uint32_t record)
{
    const auto at = targets.find(record);
    if (at == targets.end())
        return;
    if (handedOut.erase(record) == 0)
        Unwait(record, at->second);
    targets.erase(at);
}

void CPendingIndex::Clear()
{
    waiting.clear();
    targets.clear();
    handedOut.clear();
}

void CPendingIndex::ForgetWaiting()
{
    waiting.clear();
    for (auto at = targets.begin(); at != targets.end();)
        at = handedOut.count(at->first) != 0 ? std::next(at) : targets.erase(at);
}

std::optional<std::uint32_t> CPendingIndex::TakeFirstForUser(const std::string& userId, const std::string& serverName)
{
    const auto server = waiting.find(serverName);
    if (server == waiting.end())
        return std::nullopt;
    const auto user = server->second.byUser.find(userId);
    if (user == server->second.byUser.end())
        return std::nullopt;
    return HandOut(*user->second.begin());
}

std::optional<std::uint32_t> CPendingIndex::TakeFirstForRoute(const std::string& localServer)
{
    return HandOut(FirstForRoute(localServer));
}

bool CPendingIndex::Release(std::uint32_t record)
{
    if (handedOut.erase(record) == 0)
        return false;
    Wait(record, targets.at(record));
    return true;
}

bool CPendingIndex::HasForUser(const std::string& userId, const std::string& serverName) const
{
    const auto server = waiting.find(serverName);
    if (server != waiting.end() && server->second.byUser.count(userId) != 0)
        return true;
    for (const std::uint32_t record : handedOut) {
        const Target& target = targets.at(record);
        if (target.user == userId && target.server == serverName)
            return true;
    }
    return false;
}

bool CPendingIndex::HasForRoute(const std::string& localServer) const
{
    if (FirstForRoute(localServer))
        return true;
    for (const std::uint32_t record : handedOut)
        if (targets.at(record).server != localServer)
            return true;
    return false;
}

void CPendingIndex::Wait(std::uint32_t record, const Target& target)
{
    ServerWaiting& server = waiting[target.server];
    server.records.insert(record);
    server.byUser[target.user].insert(record);
}

void CPendingIndex::Unwait(std::uint32_t record, const Target& target)
{
    const auto server = waiting.find(target.server);
    if (server == waiting.end())
        return;
    server->second.records.erase(record);
    const auto user = server->second.byUser.find(target.user);
    if (user != server->second.byUser.end()) {
        user->second.erase(record);
        if (user->second.empty())
            server->second.byUser.erase(user);
    }
    if (server->second.records.empty())
        waiting.erase(server);
}

std::optional<std::uint32_t> CPendingIndex::FirstForRoute(const std::string& localServer) const
{
    std::optional<std::uint32_t> first;
    for (const auto& [name, server] : waiting) {
        if (name == localServer)
            continue;
        const std::uint32_t candidate = *server.records.begin();
        if (!first || candidate < *first)
            first = candidate;
    }
    return first;
}

std::optional<std::uint32_t> CPendingIndex::HandOut(std::optional<std::uint32_t> record)
{
    if (record) {
        Unwait(*record, targets.at(*record));
        handedOut.insert(*record);
    }
    return record;
}
