#pragma once

#include "marlune/CMessageBase.h"
#include "marlune/CTalkerServer.h"

#include <string>

namespace marlune {

// "server-pub": A server's announcement of itself and its users.
// Fields in wire order; texts are GBK.
class CMessageServerPub : public CMessageBase {
public:
    static constexpr const char* kType = "server-pub";

    CTalkerServer server;

    CMessageServerPub();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
