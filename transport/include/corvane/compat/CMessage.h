#pragma once

namespace corvane {

// Exported for compatibility; carries nothing and is used by nothing.
class CMessage {
public:
    CMessage();
    virtual ~CMessage();
};

} // namespace corvane
