#include "quorvel_test_support/ParseOutcome.h"

#include <marlune/CXmlMsg.h>

namespace quorvel::testsupport {

using marlune::CXmlMsg;

ParseOutcome ParseOutcome::Of(const std::string& payload, bool direct)
{
    ParseOutcome out;
    CXmlMsg xml;
    xml.SetDirectReading(direct);
    out.msg = xml.ParseXmlNew(payload.data(), payload.size(), &out.head);
    out.error = xml.LastError();
    out.ownLayout = xml.LastParseInOwnLayout();
    return out;
}

std::string BuiltBytes(marlune::CMessageBase& message)
{
    return CXmlMsg().BuildBytes(message);
}

} // namespace quorvel::testsupport
