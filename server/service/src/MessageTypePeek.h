#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel::service {

// The `type` attribute of a payload's root element `msg`, read from its
// first bytes without parsing the message: lets the service refuse a
// request it would drop anyway before paying for the parse (a large
// announcement takes tens of milliseconds). Only the plain shape the
// message library writes is read: an optional XML declaration, then
// `<msg` with quoted attributes, a type free of entities, closed within
// kMaxHeadBytes. Anything else gives "", and the payload is parsed as usual.
// The view points into `payload`.
std::string_view PeekMessageType(std::string_view payload);

constexpr std::size_t kMaxHeadBytes = 4096;

} // namespace quorvel::service
