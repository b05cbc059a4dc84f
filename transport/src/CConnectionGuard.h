#pragma once

#include "CBufferBudget.h"
#include "corvane/CConnectionLimits.h"

#include <asio/steady_timer.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

namespace corvane {

class CMyRASServer_Srv;
class CMyRASSocket;

// A listening server's bounds on its accepted connections
// (CConnectionLimits): the buffer budget shared by all of them, the count
// per remote address, the time a connection may stay without a login, and
// the frames one connection delivers per turn of the loop. Each bound that
// bites closes or holds back only the connection concerned and logs it
// through the server's LogLimit.
//
// Thread: the server's loop thread, for every method; the budget itself is
// fed from any thread (CBufferBudget).
class CConnectionGuard : public std::enable_shared_from_this<CConnectionGuard> {
public:
    explicit CConnectionGuard(CMyRASServer_Srv& server);

    // Takes over the budget's enforcement and starts the login check.
    void Start();
    // Lets go of the server (it is being destroyed).
    void Stop();

    void SetLimits(const CConnectionLimits& limits);
    const CConnectionLimits& Limits() const { return limits_; }
    std::size_t Held() const { return budget_->Held(); }

    // Whether a freshly accepted connection may join (its address has room);
    // when it may, it is counted and bound by the limits. A refusal is
    // logged.
    bool Admit(CMyRASSocket& socket);
    // A connection of the list closed: its address has room again.
    void Leave(CMyRASSocket& socket);
    // Every connection is gone.
    void Clear();

private:
    void MakeRoom();
    void ArmTimer();
    void CloseUnbound();

    CMyRASServer_Srv* server_;
    CConnectionLimits limits_;
    std::shared_ptr<CBufferBudget> budget_;
    std::unordered_map<std::string, std::size_t> perAddress_;
    asio::steady_timer timer_;
};

} // namespace corvane
