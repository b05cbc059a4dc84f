#pragma once

#include "marlune/CMessageBase.h"

#include <string>

namespace marlune {

// "user-reg": A registration or, with modify "true", a profile change; the reply fills result and error.
// Fields in wire order; texts are GBK.
class CMessageUserReg : public CMessageBase {
public:
    static constexpr const char* kType = "user-reg";

    std::string userId;
    std::string name;
    std::string sex;
    std::string password;
    std::string tel;
    std::string result;
    std::string error;
    std::string modify;

    CMessageUserReg();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
