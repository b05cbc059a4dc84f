#pragma once

#include "CLoadScenario.h"

namespace quorvel::load {

// One user sends M "user-talking" messages to a user who is not logged in;
// once the server has taken them all (a query answered on the sender's
// connection comes after them), the target logs in, and the time until its
// last message arrives is measured from the login.
class COfflineScenario : public CLoadScenario {
public:
    CLoadResult Run(CLoadContext& context) override;
};

} // namespace quorvel::load
