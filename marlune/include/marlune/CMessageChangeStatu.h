#pragma once

#include "marlune/CMessageBase.h"

#include <string>

namespace marlune {

// "user-changestatu": A user's new status, sent to the user's friends.
// Fields in wire order; texts are GBK.
class CMessageChangeStatu : public CMessageBase {
public:
    static constexpr const char* kType = "user-changestatu";

    std::string userId;
    std::string server;
    std::string statu;
    std::string note;

    CMessageChangeStatu();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
