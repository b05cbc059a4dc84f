#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
class CMyRASSocket;
}
namespace marlune {
class CMessageBase;
}
namespace quorvel::store {
class CDeliveryReceipt;
}

namespace quorvel::service {

// How handlers reach connections and users: sending bytes or a message on a
// connection or to every connection of a user, and binding connections to
// users. The service implements it.
// Threads: the service's loop thread.
class CUserSender {
public:
    // Sends bytes as a frame to every connection bound to userId; the OR of
    // the send results, 0 when no connection is bound to it. Each send is
    // tracked by the receipt, when one is given.
    virtual int SendToUser(std::string_view userId, const void* bytes, std::uint32_t length,
                           store::CDeliveryReceipt* receipt = nullptr) = 0;
    // Builds message and sends it on socket; 0 when nothing was built or sent.
    virtual int SendMessageOn(corvane::CMyRASSocket* socket, marlune::CMessageBase& message) = 0;
    // Builds message and sends it to userId's connections (SendToUser).
    virtual int SendMessageToUser(std::string_view userId, marlune::CMessageBase& message,
                                  store::CDeliveryReceipt* receipt = nullptr) = 0;

    // Binds a connection to a user (its userId field and the index of
    // ConnectionsOf); false when the id is empty or does not fit the field.
    virtual bool BindUser(corvane::CMyRASSocket& socket, std::string_view userId) = 0;
    // Unbinds a connection (a closing one: before it is destroyed); returns
    // the id it was bound to, "" when none.
    virtual std::string UnbindUser(corvane::CMyRASSocket& socket) = 0;
    // The connections bound to userId in accept order, empty when none; the
    // list is valid until the next binding change.
    virtual const std::vector<corvane::CMyRASSocket*>& ConnectionsOf(std::string_view userId) const = 0;
    // Every connection in accept order.
    virtual const std::vector<std::unique_ptr<corvane::CMyRASSocket>>& Connections() const = 0;

    // The user id a connection is bound to ("" when none).
    static std::string BoundUserId(const corvane::CMyRASSocket& socket);
    // Whether the connection is bound to userId; no copy, as it runs for
    // every connection on every delivery.
    static bool IsBoundTo(const corvane::CMyRASSocket& socket, std::string_view userId);

protected:
    ~CUserSender() = default;
};

} // namespace quorvel::service
