#pragma once

#include "corvane/CLogThrottle.h"

#include <string>

namespace marlune {
class CMessageBase;
class CMessageChangeStatu;
class CMessageUserFriend;
class CTalker;
}
namespace quorvel::store {
class CDeliveryReceipt;
}

namespace quorvel::service {

class CQueryHandler;
struct CHandlerContext;

// Status changes and friendship: records a user's new status, tells the
// user's friends logged in here (or every logged-in user when SendAllFriend
// is on), and records an accepted friendship when its message is delivered,
// unless a local party has the most friends the limits allow.
// Threads: the service's loop thread only.
class CStatusHandler {
public:
    // Pushes refreshed profiles through `query`; both outlive this.
    CStatusHandler(CHandlerContext& context, CQueryHandler& query) : context_(context), query_(query) {}

    // Stores the status in the named server's record and notifies friends.
    // Never saved, never routed.
    void OnChangeStatu(marlune::CMessageChangeStatu* message);
    // Sends message to talker's friends logged in here, or, with
    // SendAllFriend on, to every other logged-in user.
    void NotifyFriends(const marlune::CTalker* talker, marlune::CMessageBase* message);
    // Records an accepted friendship on both sides, pushes each local party
    // its refreshed profile, then delivers the message to its target. False
    // when it must stay stored (target not connected, or another server).
    // The receipt, when given, tracks the sends to the target.
    bool OnUserFriend(marlune::CMessageUserFriend* message, store::CDeliveryReceipt* receipt = nullptr);

private:
    void PushProfile(const marlune::CTalker& party);
    // Whether talker (null: not known here) may take address as a friend:
    // already listed, or fewer friends than the MaxFriends limit. A refusal
    // is logged at most once a minute per user.
    bool RoomForFriend(const marlune::CTalker* talker, const std::string& address);

    CHandlerContext& context_;
    CQueryHandler& query_;
    corvane::CLogThrottle friendCapLines_; // the friend limit, per user
};

} // namespace quorvel::service
