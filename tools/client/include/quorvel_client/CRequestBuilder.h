#pragma once

#include "quorvel_client/CClientIdentity.h"

#include <marlune/Marlune.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::client {

// Builds the requests a client sends. Every call makes a new message with
// the current time, this client's address as source and an empty routed
// list: a server drops a message whose routed list already names it, so a
// received message is never sent back as it is. All texts are GBK.
// Any thread; the builder only reads the identity it was given.
class CRequestBuilder {
public:
    // The text a client puts into the unused fourth field of a login.
    static constexpr const char* kClientName = "quorvel-client/1.0";
    // The status a login carries when none is given.
    static constexpr const char* kDefaultStatus = "online";

    explicit CRequestBuilder(const CClientIdentity& me) : me_(me) {}

    // "user-login": `address` is "id" or "id@server" (the server part only
    // shapes the source address; the body carries the id).
    std::unique_ptr<marlune::CMessageUserLogin> Login(std::string_view address, std::string_view password,
                                             std::string_view statu) const;
    // "user-login" with force "true": the server creates or overwrites the
    // user with these texts and skips the password check.
    std::unique_ptr<marlune::CMessageUserLogin> ForceLogin(std::string_view address, std::string_view name,
                                                  std::string_view password, std::string_view statu) const;
    // "user-reg"; with `modify` the server changes an existing user.
    std::unique_ptr<marlune::CMessageUserReg> Register(std::string_view userId, std::string_view name, std::string_view sex,
                                              std::string_view password, std::string_view tel, bool modify) const;
    // "user-changestatu" for this client's user.
    std::unique_ptr<marlune::CMessageChangeStatu> Status(std::string_view statu) const;
    // "user-talking" to `target` (a full address).
    std::unique_ptr<marlune::CMessageUserTalking> Talk(std::string_view target, std::string_view text) const;
    // "user-infor" about `address`.
    std::unique_ptr<marlune::CMessageUserInfor> Infor(std::string_view address) const;
    // "user-list": every known user whose name holds `filter`, or with
    // `online` the logged-in users. The reply goes to this client's user.
    std::unique_ptr<marlune::CMessageUserList> List(std::string_view filter, bool online) const;
    // "user-friend" asking `target` (a full address) to become a friend.
    std::unique_ptr<marlune::CMessageUserFriend> FriendRequest(std::string_view target, std::string_view text) const;
    // "user-friend" accepting `request` (one received): the same two
    // parties, result "success", sent back to the party that asked.
    std::unique_ptr<marlune::CMessageUserFriend> FriendAccept(const marlune::CMessageUserFriend& request) const;
    // "heart" naming this client.
    std::unique_ptr<marlune::CMessageHeart> Heart() const;
    // One "trans-file" chunk to `target`; `base64` is the chunk's text.
    std::unique_ptr<marlune::CMessageTransFile> FileChunk(std::string_view target, std::string_view file, std::uint64_t size,
                                                 std::uint64_t offset, std::string_view action,
                                                 std::string base64) const;

    // Local time as "YYYY-MM-DD hh:mm:ss".
    static std::string Now();

private:
    void Stamp(marlune::CMessageBase& msg, std::string_view target) const;

    const CClientIdentity& me_;
};

} // namespace quorvel::client
