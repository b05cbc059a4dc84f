#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

// The pending (unsent) records of the message cache, by target, in record
// order, so that finding the next message for a user or for routing costs no
// file read and does not grow with the number of records ever written.
// Not thread-safe: the cache calls it under its own lock.
class CPendingIndex {
public:
    void Add(std::uint32_t record, const std::string& targetUser, const std::string& targetServer);
    // Forgets a record; a record not held is ignored.
    void Remove(std::uint32_t record, const std::string& targetUser, const std::string& targetServer);
    void Clear();

    // Lowest pending record for exactly this user id on exactly this server.
    std::optional<std::uint32_t> FirstForUser(const std::string& userId, const std::string& serverName) const;
    // Lowest pending record whose target server differs from localServer.
    std::optional<std::uint32_t> FirstForRoute(const std::string& localServer) const;

    std::size_t Size() const { return size; }

private:
    struct ServerPending {
        std::set<std::uint32_t> records;
        std::unordered_map<std::string, std::set<std::uint32_t>> byUser;
    };

    std::unordered_map<std::string, ServerPending> byServer;
    std::size_t size = 0;
};
