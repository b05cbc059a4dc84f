#include "quorvel_store/CPendingIndex.h"


namespace {

// A user id and a server name together, unambiguous whatever they hold.
std::string TotalsKey(const std::string& user, const std::string& server)
{
    return user + '\0' + server;
}

} // namespace

void CPendingIndex::Add(std::uint32_t record, const std::string& targetUser, const std::string& targetServer,
                        Place place)
{
    const auto [at, added] = targets.emplace(record, Target{targetUser, targetServer, place});
    if (!added)
        return;
    Wait(record, at->second);
    Count(at->second, true);
}

void CPendingIndex::Remove(std::uint32_t record)
{
    const auto at = targets.find(record);
    if (at == targets.end())
        return;
    if (handedOut.erase(record) == 0)
        Unwait(record, at->second);
    Count(at->second, false);
    targets.erase(at);
}

void CPendingIndex::Clear()
{
    waiting.clear();
    targets.clear();
    handedOut.clear();
    totals.clear();
    serverTotals.clear();
    bytes = 0;
}

void CPendingIndex::ForgetWaiting()
{
    waiting.clear();
    for (auto at = targets.begin(); at != targets.end();) {
        if (handedOut.count(at->first) != 0) {
            ++at;
            continue;
        }
        Count(at->second, false);
        at = targets.erase(at);
    }
}

std::vector<std::uint32_t> CPendingIndex::Records() const
{
    std::vector<std::uint32_t> records;
    records.reserve(targets.size());
    for (const auto& entry : targets)
        records.push_back(entry.first);
    return records;
}

CPendingIndex::Totals CPendingIndex::ForTarget(const std::string& userId, const std::string& serverName) const
{
    const auto at = totals.find(TotalsKey(userId, serverName));
    return at == totals.end() ? Totals{} : at->second;
}

CPendingIndex::Totals CPendingIndex::ForServer(const std::string& serverName) const
{
    const auto at = serverTotals.find(serverName);
    return at == serverTotals.end() ? Totals{} : at->second;
}

void CPendingIndex::Count(const Target& target, bool add)
{
    Totals& server = serverTotals[target.server];
    if (add) {
        ++server.messages;
        server.bytes += target.place.length;
    } else if (--server.messages == 0) {
        serverTotals.erase(target.server);
    } else {
        server.bytes -= target.place.length;
    }
    const std::string key = TotalsKey(target.user, target.server);
    Totals& sum = totals[key];
    if (add) {
        ++sum.messages;
        sum.bytes += target.place.length;
        bytes += target.place.length;
        return;
    }
    --sum.messages;
    sum.bytes -= target.place.length;
    bytes -= target.place.length;
    if (sum.messages == 0)
        totals.erase(key);
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
