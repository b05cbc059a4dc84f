#pragma once

class CChatServer;
class CMessageUserInfor;
class CMessageUserList;
class CMyRASSocket;
class CTalker;

// Directory queries: one user's profile with the records of the user's
// friends ("user-infor"), and lists of users ("user-list"). No reply carries
// a password but the asking user's own.
// Threads: the service's loop thread only.
class CQueryHandler {
public:
    explicit CQueryHandler(CChatServer& service) : service_(service) {}

    // Fills the profile of the user at the message's address and its friend
    // records. Answers on socket, or without one to the connections of the
    // user the profile describes.
    void OnUserInfor(CMessageUserInfor* message, CMyRASSocket* socket);
    // Lists the logged-in users, or every known user whose name contains the
    // filter. Answers on socket, or without one to the connections of the
    // requesting user id.
    void OnUserList(CMessageUserList* message, CMyRASSocket* socket);
    // Adds the record of each logged-in connection's user, once per
    // connection.
    void ListOnlineUsers(CMessageUserList* message);

private:
    // Whether a reply about talker goes only to talker's own connections.
    bool RepliesToOwner(const CTalker& talker, const CMyRASSocket* socket);
    void AddFriendRecords(CMessageUserInfor& message, const CTalker& talker);

    CChatServer& service_;
};
