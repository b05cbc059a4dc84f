// Differential: a payload read directly in the library's own layout must
// give what the general XML parser gives (message, head, error), must be
// byte for byte the build of that message, and relaying it with one more
// routed entry spliced in must give the build of the message with that
// entry. Each input is compared as it is and, since most mutations leave
// the layout, once more as the library builds what the parser made of it.
#include "marlune/Marlune.h"
#include "quorvel_test_support/ParseOutcome.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <typeinfo>

using marlune::CMessageBase;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
using quorvel::testsupport::BuiltBytes;
using quorvel::testsupport::ParseOutcome;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void Compare(const std::string& payload)
{
    ParseOutcome direct = ParseOutcome::Of(payload, true);
    ParseOutcome general = ParseOutcome::Of(payload, false);
    Require((direct.msg == nullptr) == (general.msg == nullptr));
    Require(direct.error == general.error);
    Require(BuiltBytes(direct.head) == BuiltBytes(general.head));
    if (direct.msg == nullptr)
        return;
    Require(typeid(*direct.msg) == typeid(*general.msg));
    Require(BuiltBytes(*direct.msg) == BuiltBytes(*general.msg));
    if (!direct.ownLayout)
        return;
    Require(BuiltBytes(*general.msg) == payload);
    CTalkerServer self;
    self.name = "hub";
    general.msg->AddRoutedServer(self);
    direct.msg->AddRoutedServer(self);
    Require(CXmlMsg::BuildRelayed(payload, *direct.msg) == BuiltBytes(*general.msg));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string payload(reinterpret_cast<const char*>(data), size);
    Compare(payload);
    ParseOutcome general = ParseOutcome::Of(payload, false);
    if (general.msg != nullptr)
        Compare(BuiltBytes(*general.msg));
    return 0;
}
