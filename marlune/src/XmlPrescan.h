#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace marlune {

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

    // Most nodes and attributes a payload of `length` bytes may hold. The
    // library's own output stays well inside: its smallest element, a
    // routed entry, takes 22 bytes, and a talker record takes about a
    // hundred bytes for one element and ten attributes. Hostile shapes at
    // these limits hold no more memory than an honest list of talkers of
    // the same size, within a factor of two. The constant lets short
    // messages through whatever their shape.
    static constexpr std::size_t MaxNodes(std::size_t length) { return length / 16 + 64; }
    static constexpr std::size_t MaxAttributes(std::size_t length) { return length / 8 + 64; }

    // True when `xml` is within the limits; otherwise false with the reason.
    static bool Check(std::string_view xml, std::string& why);
};

} // namespace marlune
