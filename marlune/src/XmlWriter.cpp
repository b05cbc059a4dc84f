#include "XmlWriter.h"

#include <array>
#include <cstdio>

namespace marlune {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool OnlyBlanks(std::string_view value)
{
    for (const char c : value) {
        if (!IsBlank(c)) {
            return false;
        }
    }
    return true;
}

// The bytes Escape copies as they are in a text and in an attribute value
// alike: all but markup characters, quotes and control characters.
constexpr std::array<bool, 256> PlainBytes()
{
    std::array<bool, 256> plain{};
    for (unsigned c = 0; c < 256; ++c) {
        plain[c] = c >= 0x20 && c != 0x7F && c != '&' && c != '<' && c != '>' && c != '"';
    }
    return plain;
}

constexpr std::array<bool, 256> kPlain = PlainBytes();

void AppendReference(std::string& out, unsigned char c)
{
    char buffer[8];
    const int n = std::snprintf(buffer, sizeof buffer, "&#%u;", static_cast<unsigned>(c));
    out.append(buffer, static_cast<std::size_t>(n));
}

} // namespace

void XmlWriter::Declaration()
{
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
}

void XmlWriter::Open(std::string_view name)
{
    if (!stack_.empty()) {
        Frame& parent = stack_.back();
        EndStartTag();
        parent.hasChildren = true;
        if (!parent.hasText) {
            NewLine(stack_.size());
        }
    }
    out_ += '<';
    out_ += name;
    stack_.push_back(Frame{name});
}

void XmlWriter::Attribute(std::string_view name, std::string_view value)
{
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    Escape(value, true);
    out_ += '"';
}

void XmlWriter::Text(std::string_view value)
{
    if (stack_.empty() || value.empty()) {
        return;
    }
    EndStartTag();
    Frame& frame = stack_.back();
    const bool first = !frame.hasText && !frame.hasChildren;
    frame.hasText = true;
    // A parser may drop a text that is only white space; a reference for
    // its first character makes it a text like any other.
    if (first && OnlyBlanks(value)) {
        AppendReference(out_, static_cast<unsigned char>(value.front()));
        value.remove_prefix(1);
    }
    Escape(value, false);
}

void XmlWriter::Close()
{
    if (stack_.empty()) {
        return;
    }
    const Frame frame = stack_.back();
    stack_.pop_back();
    if (frame.startOpen) {
        out_ += "/>";
    } else {
        if (frame.hasChildren && !frame.hasText) {
            NewLine(stack_.size());
        }
        out_ += "</";
        out_ += frame.name;
        out_ += '>';
    }
    if (stack_.empty()) {
        out_ += '\n';
    }
}

void XmlWriter::EndStartTag()
{
    Frame& frame = stack_.back();
    if (frame.startOpen) {
        out_ += '>';
        frame.startOpen = false;
    }
}

void XmlWriter::NewLine(std::size_t depth)
{
    out_ += '\n';
    out_.append(depth * 2, ' ');
}

void XmlWriter::Escape(std::string_view value, bool attribute)
{
    std::size_t run = 0;   // start of the bytes not yet copied
    for (std::size_t i = 0; i < value.size(); ++i) {
        // Bytes that stand for themselves are passed over in a tight loop:
        // a text of megabytes has few others.
        while (i < value.size() && kPlain[static_cast<unsigned char>(value[i])]) {
            ++i;
        }
        if (i == value.size()) {
            break;
        }
        const unsigned char c = static_cast<unsigned char>(value[i]);
        const char* entity = nullptr;
        bool reference = false;
        switch (c) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = attribute ? "&quot;" : nullptr; break;
        case '\t':
        case '\n': reference = attribute; break;
        default: reference = c < 0x20 || c == 0x7F; break;
        }
        if (entity == nullptr && !reference) {
            continue;
        }
        out_.append(value.data() + run, i - run);
        run = i + 1;
        if (entity != nullptr) {
            out_ += entity;
        } else {
            AppendReference(out_, c);
        }
    }
    out_.append(value.data() + run, value.size() - run);
}

} // namespace marlune
