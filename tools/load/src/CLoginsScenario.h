#pragma once

#include "CLoadScenario.h"

namespace quorvel::load {

// N users connect first; then all log in at once and the time until every
// answer came is measured. With password logins of the generated directory
// (each user has friends) every login notifies the friends already logged
// in; the notices received are counted.
class CLoginsScenario : public CLoadScenario {
public:
    CLoadResult Run(CLoadContext& context) override;
};

} // namespace quorvel::load
