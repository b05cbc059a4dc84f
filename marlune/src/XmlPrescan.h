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

    // Most nodes and attributes a payload of `length` bytes may hold. A
    // talker record as the library writes it takes about a hundred bytes
    // for one element and ten attributes; these ratios leave room for that
    // (and for shorter records) while the parser's nodes (120 bytes each)
    // and attributes (80 bytes each) stay within a small multiple of the
    // payload's size. The constant lets short messages through whatever
    // their shape.
    static constexpr std::size_t MaxNodes(std::size_t length) { return length / 32 + 64; }
    static constexpr std::size_t MaxAttributes(std::size_t length) { return length / 8 + 64; }

    // True when `xml` is within the limits; otherwise false with the reason.
    static bool Check(std::string_view xml, std::string& why);
};
