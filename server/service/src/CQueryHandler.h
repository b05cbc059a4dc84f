#pragma once

#include <cstddef>
#include <vector>

namespace corvane {
class CMyRASSocket;
}
namespace marlune {
class CMessageUserInfor;
class CMessageUserList;
class CTalker;
}

namespace quorvel::service {

struct CHandlerContext;

// Directory queries: one user's profile with the records of the user's
// friends ("user-infor"), and lists of users ("user-list"). No reply carries
// a password but the asking user's own. One answer carries a bounded number
// of records.
// Threads: the service's loop thread only.
class CQueryHandler {
public:
    explicit CQueryHandler(CHandlerContext& context) : context_(context) {}

    // Fills the profile of the user at the message's address and its friend
    // records. Answers on socket, or without one to the connections of the
    // user the profile describes.
    void OnUserInfor(marlune::CMessageUserInfor* message, corvane::CMyRASSocket* socket);
    // Lists the logged-in users, or every known user whose name contains the
    // filter. Answers on socket, or without one to the connections of the
    // requesting user id.
    void OnUserList(marlune::CMessageUserList* message, corvane::CMyRASSocket* socket);
    // Adds the record of each logged-in connection's user, once per
    // connection, up to the answer's bound; returns how many there were.
    std::size_t ListOnlineUsers(marlune::CMessageUserList* message);

private:
    // The records of one answer being filled: at most MaxListAnswerUsers of
    // them and CServiceLimits::kMaxListAnswerBytes of their texts, so one
    // request cannot fill a connection's queue.
    struct ListAnswer {
        std::vector<marlune::CTalker>& talkers;
        std::size_t bytes = 0;     // of the records taken
        std::size_t matched = 0;   // records offered, taken or not
        bool full = false;         // a record was left out: later ones are too
    };
    // Counts talker as matched and adds its public copy when the answer has
    // room. True when added.
    bool Offer(ListAnswer& answer, const marlune::CTalker& talker) const;

    // Whether a reply about talker goes only to talker's own connections.
    bool RepliesToOwner(const marlune::CTalker& talker, const corvane::CMyRASSocket* socket);
    void AddFriendRecords(marlune::CMessageUserInfor& message, const marlune::CTalker& talker);

    CHandlerContext& context_;
};

} // namespace quorvel::service
