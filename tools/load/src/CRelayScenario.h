#pragma once

#include "CLoadScenario.h"

namespace quorvel::load {

// Pairs of logged-in users send each other "trans-file" messages, which the
// server relays at arrival. At full speed (rate 0) each sender keeps a window
// of messages in flight and tops it up as its peer receives; with a rate the
// senders share it evenly. Relay rate = deliveries during the sending time.
class CRelayScenario : public CLoadScenario {
public:
    CLoadResult Run(CLoadContext& context) override;

private:
    std::uint32_t Peer(std::uint32_t user) const { return user ^ 1u; }
    void OnMessage(std::uint32_t receiver, std::string_view payload);
    void SendPaced(std::uint64_t count);

    bool sending_ = false;
    unsigned window_ = 0;
    std::vector<std::uint64_t> sent_;
    std::vector<std::uint64_t> arrived_;
    std::uint32_t nextSender_ = 0;
};

} // namespace quorvel::load
