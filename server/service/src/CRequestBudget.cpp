#include "quorvel_service/CRequestBudget.h"

#include <algorithm>

namespace quorvel::service {

namespace {

// Refills `bucket` for the time since its last use, up to a minute's worth.
void Refill(double& tokens, CRequestBudget::Clock::time_point& last, std::uint64_t perMinute,
            CRequestBudget::Clock::time_point now)
{
    const double seconds = std::chrono::duration<double>(now - last).count();
    const double capacity = static_cast<double>(perMinute);
    tokens = std::min(capacity, tokens + seconds * capacity / 60.0);
    last = now;
}

// Takes cost tokens, going at most a minute's worth into debt.
void Take(double& tokens, std::uint64_t perMinute, std::uint64_t cost)
{
    const auto most = static_cast<double>(perMinute);
    tokens = std::max(-most, tokens - static_cast<double>(std::min(cost, perMinute)));
}

} // namespace

template <class Table, class Key>
CRequestBudget::Bucket& CRequestBudget::Find(Table& table, const Key& key, std::uint64_t perMinute,
                                             Clock::time_point now, std::size_t& pruneAt)
{
    auto found = table.find(key);
    if (found != table.end()) {
        Refill(found->second.tokens, found->second.last, perMinute, now);
        return found->second;
    }
    if (table.size() >= pruneAt) {
        std::erase_if(table, [&](const auto& item) {
            Bucket bucket = item.second;
            Refill(bucket.tokens, bucket.last, perMinute, now);
            return bucket.tokens >= static_cast<double>(perMinute);
        });
        pruneAt = std::max(kFirstPrune, table.size() * 2);
    }
    return table.emplace(key, Bucket{static_cast<double>(perMinute), now, {}}).first->second;
}

CRequestBudget::Bucket& CRequestBudget::ConnectionBucket(std::uint64_t serial,
                                                          const std::function<std::string()>& addressOf,
                                                          Clock::time_point now)
{
    Bucket& connection = Find(connections_, serial, perConnection_, now, connectionsPruneAt_);
    if (connection.address.empty())
        connection.address = addressOf();
    return connection;
}

CRequestBudget::Verdict CRequestBudget::Admit(std::uint64_t serial, const std::function<std::string()>& addressOf,
                                              Clock::time_point now, std::uint64_t cost, std::string& address)
{
    Bucket& connection = ConnectionBucket(serial, addressOf, now);
    address = connection.address;
    return Charge(connection, now, cost);
}

CRequestBudget::Verdict CRequestBudget::Admit(std::uint64_t serial, const std::string& address, Clock::time_point now,
                                              std::uint64_t cost)
{
    return Charge(ConnectionBucket(serial, [&] { return address; }, now), now, cost);
}

CRequestBudget::Verdict CRequestBudget::Check(std::uint64_t serial, const std::function<std::string()>& addressOf,
                                              Clock::time_point now, std::string& address)
{
    Bucket& connection = ConnectionBucket(serial, addressOf, now);
    address = connection.address;
    Bucket* peer = nullptr;
    return Judge(connection, now, 1, peer);
}

CRequestBudget::Verdict CRequestBudget::Judge(Bucket& connection, Clock::time_point now, std::uint64_t cost,
                                              Bucket*& peer)
{
    if (connection.tokens < static_cast<double>(std::min(cost, perConnection_)))
        return Verdict::kConnection;
    peer = &Find(addresses_, connection.address, perAddress_, now, addressesPruneAt_);
    if (peer->tokens < static_cast<double>(std::min(cost, perAddress_)))
        return Verdict::kAddress;
    return Verdict::kAdmitted;
}

CRequestBudget::Verdict CRequestBudget::Charge(Bucket& connection, Clock::time_point now, std::uint64_t cost)
{
    Bucket* peer = nullptr;
    const Verdict verdict = Judge(connection, now, cost, peer);
    if (verdict == Verdict::kAdmitted) {
        connection.tokens -= static_cast<double>(std::min(cost, perConnection_));
        peer->tokens -= static_cast<double>(std::min(cost, perAddress_));
    }
    return verdict;
}

void CRequestBudget::Spend(std::uint64_t serial, Clock::time_point now, std::uint64_t cost)
{
    const auto found = connections_.find(serial);
    if (found == connections_.end() || cost == 0)
        return;
    Bucket& connection = found->second;
    Refill(connection.tokens, connection.last, perConnection_, now);
    Take(connection.tokens, perConnection_, cost);
    Bucket& peer = Find(addresses_, connection.address, perAddress_, now, addressesPruneAt_);
    Take(peer.tokens, perAddress_, cost);
}

} // namespace quorvel::service
