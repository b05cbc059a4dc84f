#pragma once

#include "marlune/CTalker.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One server (this one, a neighbour or a route server) and its user
// registry. The server owns its users; each lives at a stable address until
// it is removed, so a pointer from GetTalkerByUserID stays valid while other
// users are added. Copying copies every user.
// Not synchronised: one thread at a time may use an object.
class CTalkerServer {
public:
    std::string name;
    std::string ip;
    std::string port;          // decimal text
    std::string description;
    std::vector<std::unique_ptr<CTalker>> talkers;   // in registration order

    CTalkerServer() = default;
    CTalkerServer(const CTalkerServer& other);
    CTalkerServer& operator=(const CTalkerServer& other);
    CTalkerServer(CTalkerServer&&) noexcept = default;
    CTalkerServer& operator=(CTalkerServer&&) noexcept = default;
    ~CTalkerServer() = default;

    // Stores a copy of `talker` at the end of the list; returns the stored
    // record (null only when memory ran out).
    CTalker* AddTalker(const CTalker& talker);

    // The first user whose id equals `userId` exactly, or null.
    CTalker* GetTalkerByUserID(std::string_view userId);
    const CTalker* GetTalkerByUserID(std::string_view userId) const;

    // Sets the status of the first user with `userId`; returns that user,
    // or null when there is none.
    CTalker* SetTalkerStatu(std::string_view userId, std::string_view statu);

    // Removes and frees every user.
    void ReleaseAll();
};
