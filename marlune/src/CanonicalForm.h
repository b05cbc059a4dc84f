#pragma once

#include "marlune/CMessageBase.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace marlune {

// The library's own layout of a message: what BuildXml writes, byte for
// byte. Nearly every payload is built by this library (clients and peer
// servers use it), so a payload in that layout is read directly, without
// the general XML parser, and a message received in it is passed on with
// one more routed entry by splicing the entry into the received bytes.
// Only bodies of attributes and text are read this way; a body with talker
// or server records, a type the library does not know, an entity or
// character reference, or a text that does not convert is left to the
// general parser, which gives the same result for every payload this class
// reads. Any thread.
class CanonicalForm {
public:
    // The message `xml` holds when `xml` is exactly what BuildXml writes
    // for that message; null otherwise. `xml` must be valid UTF-8.
    static std::unique_ptr<CMessageBase> Read(std::string_view xml);

    // What BuildXml writes for the message of `canonical` (a payload Read
    // accepted) with a routed entry named `serverName` (GBK) added at the
    // end of its list, spliced into a copy of `canonical`. False, with
    // `out` untouched, when `canonical` holds other than `entriesBefore`
    // routed entries, is not in the layout, or the name does not convert.
    static bool AddRoutedEntry(std::string_view canonical, std::size_t entriesBefore, std::string_view serverName,
                               std::string& out);
};

} // namespace marlune
