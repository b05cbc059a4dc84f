#pragma once

#include "marlune/CMessageBase.h"

#include <memory>
#include <string>
#include <string_view>

namespace marlune {

// The library's own layout of a message: what BuildXml writes, byte for
// byte. Nearly every payload is built by this library (clients and peer
// servers use it), so a payload in that layout is read directly, without
// the general XML parser. Only bodies of attributes and text are read this
// way; a body with
// talker or server records, a type the library does not know, an entity
// or character reference, or a text that does not convert is left to the
// general parser, which gives the same result for every payload this
// class reads. Any thread.
class CanonicalForm {
public:
    // The message `xml` holds when `xml` is exactly what BuildXml writes
    // for that message; null otherwise. `xml` must be valid UTF-8.
    static std::unique_ptr<CMessageBase> Read(std::string_view xml);
};

} // namespace marlune
