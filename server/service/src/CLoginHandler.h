#pragma once

#include "corvane/CLogThrottle.h"

#include <string>

namespace corvane {
class CMyRASSocket;
struct ON_WS_DISCONNECTED;
}
namespace marlune {
class CMessageUserLogin;
class CTalker;
}

namespace quorvel::service {

class CStatusHandler;
struct CHandlerContext;

// Logins and disconnections: binds a connection to a user of this server,
// answers the login on its connection, and tells the user's friends when the
// user comes online or a connection of the user closes.
// Threads: the service's loop thread only.
class CLoginHandler {
public:
    // Tells friends of status changes through `status`; both outlive this.
    CLoginHandler(CHandlerContext& context, CStatusHandler& status) : context_(context), status_(status) {}

    // Checks the user id and password against this server's users; always
    // answers on socket. A forced login goes to OnForceLogin.
    void OnUserLogin(marlune::CMessageUserLogin* message, corvane::CMyRASSocket* socket);
    // Creates or overwrites the user without a password check, saves the
    // directory and binds the connection.
    void OnForceLogin(marlune::CMessageUserLogin* message, corvane::CMyRASSocket* socket);
    // Unbinds a closing connection and marks its user offline to friends.
    void OnWsDisconnected(corvane::ON_WS_DISCONNECTED* para);

    // Whether userId fits the message store's user id field and userName the
    // connection's name field, terminators included: a longer id could log
    // in but never receive a stored message, a cut one would bind another
    // user. Any thread.
    static bool FitsLimits(const std::string& userId, const std::string& userName);

private:
    // Refuses the login on socket with error (may be empty).
    void Refuse(marlune::CMessageUserLogin& message, corvane::CMyRASSocket* socket, const char* error);
    // Why a forced login may not create or take this id (too long, empty,
    // or holding the friend list's separator "/"), or null.
    static const char* ForcedIdError(const std::string& userId);
    void Bind(corvane::CMyRASSocket& socket, const std::string& userId, const std::string* userName);
    // Whether socket may be bound to userId without passing the user's
    // connection bound; a refusal is logged (throttled).
    bool RoomForConnection(const std::string& userId, const corvane::CMyRASSocket* socket);
    void AnnounceStatus(marlune::CTalker& talker, const std::string& statu);

    CHandlerContext& context_;
    CStatusHandler& status_;
    corvane::CLogThrottle refusals_;
};

} // namespace quorvel::service
