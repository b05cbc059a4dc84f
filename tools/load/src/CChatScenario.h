#pragma once

#include "CLoadScenario.h"

#include <random>

namespace quorvel::load {

// Logged-in users send "user-talking" messages to random other users at a
// set total rate; the server stores them and its worker delivers them. The
// latency is from sending to delivery.
class CChatScenario : public CLoadScenario {
public:
    CLoadResult Run(CLoadContext& context) override;

private:
    void SendPaced(std::uint64_t count);

    std::mt19937 random_{12345};
    std::uint32_t nextSender_ = 0;
};

} // namespace quorvel::load
