#pragma once

#include "marlune/CMessageBase.h"
#include "marlune/CTalker.h"

#include <string>
#include <vector>

namespace marlune {

// "user-list": A user-list query; the reply carries the count and the users' records.
// Fields in wire order; texts are GBK.
class CMessageUserList : public CMessageBase {
public:
    static constexpr const char* kType = "user-list";

    std::string userId;
    std::string count;
    std::string filter;
    std::string online;
    std::vector<CTalker> talkers;

    CMessageUserList();

    // Appends a copy of `talker` to `talkers`.
    void AddTalker(const CTalker& talker);
    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
