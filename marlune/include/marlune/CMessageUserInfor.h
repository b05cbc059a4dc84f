#pragma once

#include "marlune/CMessageBase.h"
#include "marlune/CTalker.h"

#include <string>
#include <vector>

namespace marlune {

// "user-infor": A profile query about the address in `user`; the reply fills the profile and the friends' records.
// Fields in wire order; texts are GBK.
class CMessageUserInfor : public CMessageBase {
public:
    static constexpr const char* kType = "user-infor";

    std::string user;
    std::string name;
    std::string sex;
    std::string tel;
    std::string password;
    std::string face;
    std::string server;
    std::string statu;
    std::vector<CTalker> talkers;

    CMessageUserInfor();

    // Appends a copy of `talker` to `talkers`.
    void AddTalker(const CTalker& talker);
    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
