// Any payload through ParseXmlNew, then BuildXml of what came back (the
// message, or the head when only a head came back). Besides the sanitizers'
// findings it checks that a parsed message always builds, and that the
// built bytes parse into a message that builds to the same bytes again.
#include "marlune/Marlune.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CXmlMsg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CXmlMsg xml;
    CMessageBase head(nullptr);
    std::unique_ptr<CMessageBase> msg = xml.ParseXmlNew(data, size, &head);
    BX_DATA built(msg != nullptr ? msg.get() : &head);
    const std::size_t length = xml.BuildXml(&built);
    if (msg == nullptr) {
        return 0;
    }
    if (length == 0) {
        std::abort();   // a parsed message must build
    }
    std::unique_ptr<CMessageBase> again = xml.ParseXmlNew(built.Data(), built.Length(), nullptr);
    if (again == nullptr) {
        std::abort();   // what the library builds, it parses
    }
    BX_DATA rebuilt(again.get());
    if (xml.BuildXml(&rebuilt) != length || rebuilt.buff != built.buff) {
        std::abort();   // and nothing changes on the way round
    }
    return 0;
}
