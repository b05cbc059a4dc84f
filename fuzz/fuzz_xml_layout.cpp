// Differential: a payload read directly in the library's own layout must
// give what the general XML parser gives (message, head, error), must be
// byte for byte the build of that message, and relaying it with one more
// routed entry spliced in must give the build of the message with that
// entry. Each input is compared as it is and, since most mutations leave
// the layout, once more as the library builds what the parser made of it.
#include "marlune/Marlune.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <typeinfo>

using marlune::CMessageBase;
using marlune::CTalkerServer;
using marlune::CXmlMsg;

namespace {

struct Outcome {
    std::unique_ptr<CMessageBase> msg;
    CMessageBase head;
    std::string error;
    bool ownLayout = false;
};

Outcome Parse(const std::string& payload, bool direct)
{
    Outcome out;
    CXmlMsg xml;
    xml.SetDirectReading(direct);
    out.msg = xml.ParseXmlNew(payload.data(), payload.size(), &out.head);
    out.error = xml.LastError();
    out.ownLayout = xml.LastParseInOwnLayout();
    return out;
}

std::string Built(CMessageBase& message)
{
    return CXmlMsg().BuildBytes(message);
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void Compare(const std::string& payload)
{
    Outcome direct = Parse(payload, true);
    Outcome general = Parse(payload, false);
    Require((direct.msg == nullptr) == (general.msg == nullptr));
    Require(direct.error == general.error);
    Require(Built(direct.head) == Built(general.head));
    if (direct.msg == nullptr)
        return;
    Require(typeid(*direct.msg) == typeid(*general.msg));
    Require(Built(*direct.msg) == Built(*general.msg));
    if (!direct.ownLayout)
        return;
    Require(Built(*general.msg) == payload);
    CTalkerServer self;
    self.name = "hub";
    general.msg->AddRoutedServer(self);
    direct.msg->AddRoutedServer(self);
    Require(CXmlMsg::BuildRelayed(payload, *direct.msg) == Built(*general.msg));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string payload(reinterpret_cast<const char*>(data), size);
    Compare(payload);
    Outcome general = Parse(payload, false);
    if (general.msg != nullptr)
        Compare(Built(*general.msg));
    return 0;
}
