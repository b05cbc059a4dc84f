#pragma once

#include "marlune/CMessageBase.h"
#include "marlune/CTalker.h"

#include <string>

namespace marlune {

// "user-friend": A friend request between two parties: `asker` asked, `asked` was asked; result "success" marks acceptance.
// Fields in wire order; texts are GBK.
class CMessageUserFriend : public CMessageBase {
public:
    static constexpr const char* kType = "user-friend";

    std::string result;
    std::string text;
    CTalker asker;
    CTalker asked;

    CMessageUserFriend();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
