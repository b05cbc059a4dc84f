#pragma once

namespace corvane {

// Exported for compatibility; carries nothing and is used by nothing.
class CXml {
public:
    CXml();
    virtual ~CXml();
};

} // namespace corvane
