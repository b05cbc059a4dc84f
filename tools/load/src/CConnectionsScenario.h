#pragma once

#include "CLoadScenario.h"

namespace quorvel::load {

// N users connect, log in and stay idle. With the server's process id known
// it reports the server's resident memory before and after, per connection,
// and the CPU time its low-priority threads (the delivery worker) use per
// one-second cycle while nothing is pending.
class CConnectionsScenario : public CLoadScenario {
public:
    CLoadResult Run(CLoadContext& context) override;
};

} // namespace quorvel::load
