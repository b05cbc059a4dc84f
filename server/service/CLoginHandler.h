#pragma once

#include <string>

class CChatServer;
class CMessageUserLogin;
class CMyRASSocket;
class CTalker;
struct ON_WS_DISCONNECTED;

// Logins and disconnections: binds a connection to a user of this server,
// answers the login on its connection, and tells the user's friends when the
// user comes online or a connection of the user closes.
// Threads: the service's loop thread only.
class CLoginHandler {
public:
    explicit CLoginHandler(CChatServer& service) : service_(service) {}

    // Checks the user id and password against this server's users; always
    // answers on socket. A forced login goes to OnForceLogin.
    void OnUserLogin(CMessageUserLogin* message, CMyRASSocket* socket);
    // Creates or overwrites the user without a password check, saves the
    // directory and binds the connection.
    void OnForceLogin(CMessageUserLogin* message, CMyRASSocket* socket);
    // Unbinds a closing connection and marks its user offline to friends.
    void OnWsDisconnected(ON_WS_DISCONNECTED* para);

    // Whether userId (and name) fit the connection's fields with their
    // terminators; a cut id would bind the connection to another user.
    static bool FitsConnection(const std::string& userId, const std::string& userName);

private:
    // Refuses the login on socket with error (may be empty).
    void Refuse(CMessageUserLogin& message, CMyRASSocket* socket, const char* error);
    static void Bind(CMyRASSocket& socket, const std::string& userId, const std::string* userName);
    void AnnounceStatus(CTalker& talker, const std::string& statu);

    CChatServer& service_;
};
