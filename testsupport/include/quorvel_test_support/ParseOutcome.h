#pragma once

#include <marlune/CMessageBase.h>

#include <memory>
#include <string>

namespace quorvel::testsupport {

// What the message library made of one payload: the message (null when it
// refused it), the head it read, its error text and whether it read the
// payload directly in its own layout. Tests and fuzz targets compare the
// direct reading with the general XML parser's through it.
struct ParseOutcome {
    std::unique_ptr<marlune::CMessageBase> msg;
    marlune::CMessageBase head;
    std::string error;
    bool ownLayout = false;

    // Parses `payload` with a fresh codec, reading the library's own layout
    // directly when `direct`, with the general parser otherwise.
    static ParseOutcome Of(const std::string& payload, bool direct = true);
};

// The payload the library builds for `message`.
std::string BuiltBytes(marlune::CMessageBase& message);

} // namespace quorvel::testsupport
