#pragma once

#include "marlune/CTalker.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace marlune {

// One server (this one, a neighbour or a route server) and its user
// registry. The server owns its users; each lives at a stable address until
// it is removed, so a pointer from GetTalkerByUserID stays valid while other
// users are added. Copying copies every user.
//
// Users are found by id through a hash index, so a lookup costs the same
// with a thousand users or a hundred thousand. The index is keyed by the id
// a user had when it was indexed: a stored user's id is never changed (add
// a record with the id it should have instead). A copy builds its index at
// its first look-up, so a copy that is only read through (the one a save of
// the directory file writes out) costs the records alone.
// Not synchronised: one thread at a time may use an object, const look-ups
// included (they may build the index).
class CTalkerServer {
public:
    std::string name;
    std::string ip;
    std::string port;          // decimal text
    std::string description;

    // What PortNumber gives for a port text whose number is past 65535.
    static constexpr unsigned kNoPort = 65536;

    CTalkerServer() = default;
    CTalkerServer(const CTalkerServer& other);
    CTalkerServer& operator=(const CTalkerServer& other);
    CTalkerServer(CTalkerServer&&) noexcept = default;
    CTalkerServer& operator=(CTalkerServer&&) noexcept = default;
    ~CTalkerServer() = default;

    // The port text as a number: its leading decimal digits, 0 when it does
    // not start with a digit, kNoPort when the number is past 65535 (so no
    // text names a port it does not hold).
    unsigned PortNumber() const;

    // The server without its users: name, address, port text, description.
    CTalkerServer Identity() const;

    // The first character of `name` that no server name may hold ('@'
    // separates an address's user id from its server, '/' separates the
    // entries of a friend list); '\0' when there is none.
    static char ForbiddenNameChar(std::string_view name);

    // The users in registration order.
    const std::vector<std::unique_ptr<CTalker>>& Talkers() const { return talkers_; }

    // Makes room for `count` more users at once (a list read in whole).
    void Reserve(std::size_t count);

    // Stores a copy of `talker` (or takes it) at the end of the list; returns
    // the stored record (null only when memory ran out).
    CTalker* AddTalker(const CTalker& talker);
    CTalker* AddTalker(CTalker&& talker);

    // The first user whose id equals `userId` exactly, or null.
    CTalker* GetTalkerByUserID(std::string_view userId);
    const CTalker* GetTalkerByUserID(std::string_view userId) const;

    // The first user whose id and password both equal the given ones, or
    // null. (A registry may hold one id twice, from a hand-edited directory
    // file; the first record with the right password is the one.)
    CTalker* GetTalkerByLogin(std::string_view userId, std::string_view password);

    // Sets the status of the first user with `userId`; returns that user,
    // or null when there is none.
    CTalker* SetTalkerStatu(std::string_view userId, std::string_view statu);

    // Removes and frees every user.
    void ReleaseAll();

private:
    struct IdHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view id) const { return std::hash<std::string_view>{}(id); }
    };

    CTalker* Store(std::unique_ptr<CTalker> talker);
    // Builds the index when it is missing; false when memory ran out for
    // it, and look-ups then walk the list.
    bool Indexed() const;

    std::vector<std::unique_ptr<CTalker>> talkers_;
    // The first record of each id, when indexed_.
    mutable std::unordered_map<std::string, CTalker*, IdHash, std::equal_to<>> byId_;
    // Records whose id an earlier record already has, when indexed_.
    mutable std::size_t repeatedIds_ = 0;
    mutable bool indexed_ = true;
};

} // namespace marlune
