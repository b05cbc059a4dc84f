#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlune {

// Writes XML text (UTF-8 in, UTF-8 out) into a string: one element per
// line, indented by two blanks a level, except inside an element that holds
// text, whose content is written as it is. Values are escaped so that any
// XML parser reads back exactly the bytes given: markup characters as
// entities; in attribute values the white space a parser would normalise;
// carriage returns, control characters, and the first blank of a text that
// is only white space as character references.
// Not synchronised: one thread at a time may use an object.
class XmlWriter {
public:
    explicit XmlWriter(std::string& out) : out_(out) {}

    // The XML declaration; first, once.
    void Declaration();
    // Starts an element named `name` (kept by reference until Close).
    void Open(std::string_view name);
    // An attribute of the element just opened, before any content.
    void Attribute(std::string_view name, std::string_view value);
    // Text content of the current element.
    void Text(std::string_view value);
    // Ends the current element.
    void Close();

private:
    struct Frame {
        std::string_view name;
        bool startOpen = true;    // "<name ..." written, ">" not yet
        bool hasChildren = false;
        bool hasText = false;
    };

    void EndStartTag();
    void NewLine(std::size_t depth);
    void Escape(std::string_view value, bool attribute);

    std::string& out_;
    std::vector<Frame> stack_;
};

} // namespace marlune
