#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvel::store {

// The pending (unsent) records of the message cache, by target, in record
// order, so that finding the next message for a user or for routing costs no
// file read and does not grow with the number of records ever written. Only
// a user's own records are kept sorted: every look-up by record, user or
// server is a hash look-up, so a user's next message costs the same among a
// thousand users or a hundred thousand. The order of a server's records,
// which routing needs, is kept only for servers routing asked for.
//
// A pending record is either waiting or handed out: taking the next record
// for a user or for routing hands it out, so a second lookup gives the one
// after it; releasing puts it back among the waiting ones, in its original
// place; removing (sent) forgets it in either state.
// Not thread-safe: the cache calls it under its own lock.
class CPendingIndex {
public:
    // What is pending for one target user@server: messages and their bytes.
    struct Totals {
        std::uint32_t messages = 0;
        std::uint64_t bytes = 0;
    };

    // Where a record's message lies in the data file.
    struct Place {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };

    void Add(std::uint32_t record, const std::string& targetUser, const std::string& targetServer, Place place);
    // Forgets a record, waiting or handed out; a record not held is ignored.
    void Remove(std::uint32_t record);
    void Clear();
    // Forgets the waiting records and keeps the handed-out ones, before a
    // rescan adds the waiting ones again.
    void ForgetWaiting();

    // Hands out the lowest waiting record for exactly this user id on
    // exactly this server.
    std::optional<std::uint32_t> TakeFirstForUser(const std::string& userId, const std::string& serverName);
    // Hands out the lowest waiting record whose target server differs from
    // localServer.
    std::optional<std::uint32_t> TakeFirstForRoute(const std::string& localServer);
    // Puts a handed-out record back among the waiting ones; false when the
    // record is not handed out.
    bool Release(std::uint32_t record);

    // Whether anything is pending (waiting or handed out) for the user, or
    // for servers other than localServer.
    bool HasForUser(const std::string& userId, const std::string& serverName) const;
    bool HasForRoute(const std::string& localServer) const;

    bool IsHandedOut(std::uint32_t record) const { return handedOut.count(record) != 0; }
    // Where a pending record's message lies; throws std::out_of_range for a
    // record not held.
    Place PlaceOf(std::uint32_t record) const { return targets.at(record).place; }
    std::size_t HandedOut() const { return handedOut.size(); }
    // Pending records, waiting and handed out.
    std::size_t Size() const { return targets.size(); }
    // Every pending record number, ascending.
    std::vector<std::uint32_t> Records() const;
    Totals ForTarget(const std::string& userId, const std::string& serverName) const;
    // What is pending for every user of one server.
    Totals ForServer(const std::string& serverName) const;
    // Bytes of all pending messages.
    std::uint64_t Bytes() const { return bytes; }

private:
    struct Target {
        std::string user;
        std::string server;
        Place place;
    };
    struct ServerWaiting {
        std::size_t count = 0;  // waiting records
        std::unordered_map<std::string, std::set<std::uint32_t>> byUser;
        // Once routing asked for this server: its waiting records as a
        // min-heap, with stale entries (handed out, removed, or twice after a
        // release) dropped when they come to the top or when they outnumber
        // the waiting ones.
        bool ordered = false;
        std::vector<std::uint32_t> order;
    };

    void Wait(std::uint32_t record, const Target& target);
    void Unwait(std::uint32_t record, const Target& target);
    // Whether record waits among this server's records.
    bool Waits(std::uint32_t record, const std::string& serverName) const;
    // Makes the server's order ready for routing's look-ups.
    static void Order(ServerWaiting& server);
    std::optional<std::uint32_t> FirstForRoute(const std::string& localServer);
    std::optional<std::uint32_t> HandOut(std::optional<std::uint32_t> record);
    void Count(const Target& target, bool add);

    std::unordered_map<std::string, ServerWaiting> waiting;
    std::unordered_map<std::uint32_t, Target> targets; // every pending record
    std::unordered_set<std::uint32_t> handedOut;
    std::unordered_map<std::string, Totals> totals; // by TotalsKey
    std::unordered_map<std::string, Totals> serverTotals; // by target server
    std::uint64_t bytes = 0;
};

} // namespace quorvel::store
