#pragma once

#include <functional>
#include <memory>

namespace quorvel::store {

// The receipt of one stored message handed to the service for delivery. The
// message goes to every connection bound to its user; each send carries a
// report (Track) that the transport runs once its connection wrote the frame
// whole, or closed first. When the hand-over is over (Seal) and every send
// has reported, the receipt tells its owner, once, whether the message was
// delivered: handled by the service and written whole by at least one
// connection, or handled without any send (a status change).
//
// A report that is dropped unrun (a refused send, a destroyed loop) counts as
// not written; a receipt destroyed unsealed counts as not handled, so the
// owner always hears once.
//
// Threads: the service loop thread (where sends report).
class CDeliveryReceipt {
public:
    using Done = std::function<void(bool delivered)>;

    explicit CDeliveryReceipt(Done done);
    ~CDeliveryReceipt();
    CDeliveryReceipt(const CDeliveryReceipt&) = delete;
    CDeliveryReceipt& operator=(const CDeliveryReceipt&) = delete;

    // The report for one more send, to pass to SendBuff.
    std::function<void(bool written)> Track();
    // No more sends will be tracked; `handled` is the service's verdict.
    void Seal(bool handled);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace quorvel::store
