#pragma once

#include "corvane/CLogThrottle.h"

#include <string>

class CQueryHandler;
struct CHandlerContext;
class CDeliveryReceipt;
class CMessageBase;
class CMessageChangeStatu;
class CMessageUserFriend;
class CTalker;

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
    void OnChangeStatu(CMessageChangeStatu* message);
    // Sends message to talker's friends logged in here, or, with
    // SendAllFriend on, to every other logged-in user.
    void NotifyFriends(const CTalker* talker, CMessageBase* message);
    // Records an accepted friendship on both sides, pushes each local party
    // its refreshed profile, then delivers the message to its target. False
    // when it must stay stored (target not connected, or another server).
    // The receipt, when given, tracks the sends to the target.
    bool OnUserFriend(CMessageUserFriend* message, CDeliveryReceipt* receipt = nullptr);

private:
    void PushProfile(const CTalker& party);
    // Whether talker (null: not known here) may take address as a friend:
    // already listed, or fewer friends than the MaxFriends limit. A refusal
    // is logged at most once a minute per user.
    bool RoomForFriend(const CTalker* talker, const std::string& address);

    CHandlerContext& context_;
    CQueryHandler& query_;
    CLogThrottle friendCapLines_; // the friend limit, per user
};
