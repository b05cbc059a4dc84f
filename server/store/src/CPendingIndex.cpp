#include "quorvel_store/CPendingIndex.h"

#include <algorithm>
#include <functional>

namespace quorvel::store {

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
    std::sort(records.begin(), records.end());
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
    for (const auto& [name, server] : waiting)
        if (name != localServer && server.count != 0)
            return true;
    for (const std::uint32_t record : handedOut)
        if (targets.at(record).server != localServer)
            return true;
    return false;
}

void CPendingIndex::Wait(std::uint32_t record, const Target& target)
{
    ServerWaiting& server = waiting[target.server];
    ++server.count;
    server.byUser[target.user].insert(record);
    if (server.ordered) {
        server.order.push_back(record);
        std::push_heap(server.order.begin(), server.order.end(), std::greater<>());
    }
}

void CPendingIndex::Unwait(std::uint32_t record, const Target& target)
{
    const auto server = waiting.find(target.server);
    if (server == waiting.end())
        return;
    const auto user = server->second.byUser.find(target.user);
    if (user == server->second.byUser.end() || user->second.erase(record) == 0)
        return;
    if (user->second.empty())
        server->second.byUser.erase(user);
    if (--server->second.count == 0)
        waiting.erase(server);
}

bool CPendingIndex::Waits(std::uint32_t record, const std::string& serverName) const
{
    const auto at = targets.find(record);
    return at != targets.end() && at->second.server == serverName && handedOut.count(record) == 0;
}

void CPendingIndex::Order(ServerWaiting& server)
{
    auto& order = server.order;
    if (server.ordered && order.size() <= 2 * server.count + 64)
        return;
    // First asked, or mostly stale: built again from the waiting records.
    order.clear();
    for (const auto& entry : server.byUser)
        order.insert(order.end(), entry.second.begin(), entry.second.end());
    std::make_heap(order.begin(), order.end(), std::greater<>());
    server.ordered = true;
}

std::optional<std::uint32_t> CPendingIndex::FirstForRoute(const std::string& localServer)
{
    std::optional<std::uint32_t> first;
    for (auto& [name, server] : waiting) {
        if (name == localServer)
            continue;
        Order(server);
        auto& order = server.order;
        while (!order.empty() && !Waits(order.front(), name)) {
            std::pop_heap(order.begin(), order.end(), std::greater<>());
            order.pop_back();
        }
        if (!order.empty() && (!first || order.front() < *first))
            first = order.front();
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

} // namespace quorvel::store
