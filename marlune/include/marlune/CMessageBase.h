#pragma once

#include "marlune/CTalkerServer.h"

#include <string>
#include <string_view>
#include <vector>

namespace marlune {

class CFieldVisitor;

// The head every message carries, and the base of the message classes.
// Texts are GBK. An address is a user id, "@" and a server name; the first
// "@" splits it ("a@b@c" is user "a" on server "b@c"), and an address
// without "@" names no server (an empty server part: the local server).
// Not synchronised: one thread at a time may use an object.
class CMessageBase {
public:
    std::string type;     // the type name: "user-login", "user-talking", ...
    std::string time;
    std::string source;   // sender's address
    std::string target;   // receiver's address
    std::string memo;     // the further text routing logs print as the message
    int route = 0;        // set by the service: must go to another server; never on the wire
    std::vector<CTalkerServer> routedServers;   // servers passed, in order; names only on the wire

    CMessageBase() = default;
    // Null gives an empty head; a message gives a copy of its head (type,
    // time, addresses, memo, route flag and routed list), whatever its class.
    explicit CMessageBase(const CMessageBase* from);
    CMessageBase(const CMessageBase&) = default;
    CMessageBase& operator=(const CMessageBase&) = default;
    CMessageBase(CMessageBase&&) = default;
    CMessageBase& operator=(CMessageBase&&) = default;
    virtual ~CMessageBase() = default;

    // Parts of the target and source addresses, as new strings.
    std::string DetachTargetUserId() const;
    std::string DetachTargetServerName() const;
    std::string DetachSourceUserId() const;
    std::string DetachSourceServerName() const;

    // Appends an entry for `server` (its name, address, port and
    // description; not its users) to the routed list.
    void AddRoutedServer(const CTalkerServer& server);
    // The first routed entry named `name`, or null.
    CTalkerServer* GetRouteServerByName(std::string_view name);
    const CTalkerServer* GetRouteServerByName(std::string_view name) const;

    // Names the body's fields in wire order; the base message has none.
    virtual void VisitBody(CFieldVisitor& visitor);
};

} // namespace marlune
