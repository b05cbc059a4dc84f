#pragma once

#include "marlune/CMessageBase.h"

#include <string>

namespace marlune {

// "user-talking": A chat message; `text` keeps its white space.
// Fields in wire order; texts are GBK.
class CMessageUserTalking : public CMessageBase {
public:
    static constexpr const char* kType = "user-talking";

    std::string format;
    std::string text;

    CMessageUserTalking();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
