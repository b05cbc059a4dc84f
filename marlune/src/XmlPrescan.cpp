#include "XmlPrescan.h"

namespace marlune {

namespace {

struct Counts {
    std::size_t depth = 0;
    std::size_t nodes = 0;
    std::size_t attributes = 0;
};

bool StartsWith(std::string_view xml, std::size_t pos, std::string_view prefix)
{
    return xml.compare(pos, prefix.size(), prefix) == 0;
}

// Skips a start tag from its "<"; counts its attributes (the "=" outside
// quoted values) and tells whether it closes itself. npos: unterminated.
std::size_t SkipStartTag(std::string_view xml, std::size_t pos, std::size_t& attributes,
                         bool& selfClosing)
{
    char quote = 0;
    attributes = 0;
    for (std::size_t i = pos + 1; i < xml.size(); ++i) {
        const char c = xml[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '=') {
            ++attributes;
        } else if (c == '>') {
            selfClosing = xml[i - 1] == '/';
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// Skips the markup at `pos` that ends with `end`; npos: unterminated.
std::size_t SkipTo(std::string_view xml, std::size_t pos, std::string_view end)
{
    const std::size_t found = xml.find(end, pos);
    return found == std::string_view::npos ? found : found + end.size();
}

} // namespace

bool XmlPrescan::Check(std::string_view xml, std::string& why)
{
    if (xml.find('\0') != std::string_view::npos) {
        why = "NUL byte in the payload";
        return false;
    }
    Counts counts;
    const std::size_t maxNodes = MaxNodes(xml.size());
    const std::size_t maxAttributes = MaxAttributes(xml.size());
    std::size_t pos = xml.find('<');
    while (pos != std::string_view::npos) {
        if (++counts.nodes > maxNodes) {
            why = "too many nodes for the payload's size";
            return false;
        }
        std::size_t next;
        if (StartsWith(xml, pos, "<!--")) {
            next = SkipTo(xml, pos + 4, "-->");
        } else if (StartsWith(xml, pos, "<![CDATA[")) {
            next = SkipTo(xml, pos + 9, "]]>");
        } else if (StartsWith(xml, pos, "<?")) {
            next = SkipTo(xml, pos + 2, "?>");
        } else if (StartsWith(xml, pos, "<!")) {
            why = "document type declaration";
            return false;
        } else if (StartsWith(xml, pos, "</")) {
            next = SkipTo(xml, pos + 2, ">");
            if (counts.depth > 0) {
                --counts.depth;
            }
        } else {
            std::size_t attributes = 0;
            bool selfClosing = false;
            next = SkipStartTag(xml, pos, attributes, selfClosing);
            counts.attributes += attributes;
            if (attributes > kMaxAttributesPerElement) {
                why = "too many attributes on one element";
                return false;
            }
            if (counts.attributes > maxAttributes) {
                why = "too many attributes for the payload's size";
                return false;
            }
            if (!selfClosing && ++counts.depth > kMaxDepth) {
                why = "elements nested too deeply";
                return false;
            }
        }
        if (next == std::string_view::npos) {
            why = "unterminated markup";
            return false;
        }
        pos = xml.find('<', next);
    }
    return true;
}

} // namespace marlune
