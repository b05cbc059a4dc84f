#pragma once

#include "marlune/CMessageBase.h"

#include <string>

namespace marlune {

// "trans-file": A file chunk; `data` is opaque text (base64).
// Fields in wire order; texts are GBK.
class CMessageTransFile : public CMessageBase {
public:
    static constexpr const char* kType = "trans-file";

    std::string file;
    std::string size;
    std::string offset;
    std::string action;
    std::string data;

    CMessageTransFile();

    void VisitBody(CFieldVisitor& visitor) override;
};

} // namespace marlune
