#pragma once

#include <string>
#include <string_view>

namespace marlune {
class CMessageBase;
}

namespace quorvel::client {

// Who this client is: the user id it logged in with and the name of the
// server that answered the login. Texts are GBK, as in messages. A plain
// value; one thread at a time.
class CClientIdentity {
public:
    std::string userId;
    std::string server;

    // True after a successful login (a user id is known).
    bool LoggedIn() const { return !userId.empty(); }
    // "user@server", "user" while the server is unknown, "" before a login.
    std::string Address() const;
    // An address as the user typed it, completed for delivery: "bob" becomes
    // "bob@<own server>" once the own server is known; an address that names
    // a server (or any address while the own server is unknown) is returned
    // unchanged.
    std::string Resolve(std::string_view address) const;

    // Takes the identity from a successful login answer: the user id it
    // names, and the server from its routed list (the server appends its own
    // name to every message it handles), else from the address the user
    // typed at login.
    void TakeLogin(std::string_view userId, std::string_view typedAddress, const marlune::CMessageBase& reply);

    // Splits "user@server" at the first "@"; without "@" the server is empty.
    static void Split(std::string_view address, std::string& user, std::string& server);
};

} // namespace quorvel::client
