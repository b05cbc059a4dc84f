#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A lexical pass over a payload before the XML parser sees it. It bounds
// what the parser would build, so hostile input cannot make the parser
// recurse deeply or allocate far beyond the payload's size: nesting depth,
// attributes per element, nodes and attributes in proportion to the
// payload's length. It also refuses NUL bytes and document type
// declarations. Any thread.
class XmlPrescan {
public:
    static constexpr std::size_t kMaxDepth = 16;
    static constexpr std::size_t kMaxAttributesPerElement = 32;

    // Most nodes a payload of `length` bytes may hold: a talker record
    // takes about a hundred bytes, so one node per 16 bytes leaves room
    // for short records while a parse stays within a small multiple of the
    // payload's size.
    static constexpr std::size_t MaxNodes(std::size_t length) { return length / 16 + 64; }
    static constexpr std::size_t MaxAttributes(std::size_t length) { return length / 8 + 64; }

    // True when `xml` is within the limits; otherwise false with the reason.
    static bool Check(std::string_view xml, std::string& why);
};
