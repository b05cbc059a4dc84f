#pragma once

#include "marlune/CMessageBase.h"

#include <string>

namespace marlune {

// "heart": A heartbeat; the sender names the client.
// Fields in wire order; texts are GBK.
class CMessageHeart : public CMessageBase {
public:
    static constexpr const char* kType = "heart";

    std::string sender;

    CMessageHeart();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
