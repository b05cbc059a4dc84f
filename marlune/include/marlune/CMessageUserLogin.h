#pragma once

#include "marlune/CMessageBase.h"

#include <string>

namespace marlune {

// "user-login": A login request, and the reply that fills result (and error when refused).
// Fields in wire order; texts are GBK.
class CMessageUserLogin : public CMessageBase {
public:
    static constexpr const char* kType = "user-login";

    std::string userId;
    std::string password;
    std::string statu;
    std::string client;
    std::string result;
    std::string error;
    std::string name;
    std::string sex;
    std::string tel;
    std::string force;

    CMessageUserLogin();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
