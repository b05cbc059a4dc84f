#include "scrivlet/GbkText.h"

#include <cstdio>

namespace scrivlet {

namespace {

bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

bool IsDigit(unsigned char c)
{
    return c >= 0x30 && c <= 0x39;
}

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// The code point of a C1 control written as the four-byte GB18030 sequence
// at `pos` (U+0080 + n is 81 30 (81 + n / 10) (30 + n % 10)), or 0.
unsigned C1ControlAt(std::string_view text, std::size_t pos)
{
    if (text.size() - pos < 4)
        return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    if (byte(0) != 0x81 || byte(1) != 0x30 || byte(2) < 0x81 || byte(2) > 0x84 || !IsDigit(byte(3)))
        return 0;
    const unsigned n = (byte(2) - 0x81u) * 10 + (byte(3) - 0x30u);
    return n < 32 ? 0x80 + n : 0;
}

// Bytes of the character at `pos`; a lead byte whose trail bytes are missing
// or are controls stands alone, so no control is taken into a character.
std::size_t WholeCharLength(std::string_view text, std::size_t pos)
{
    const std::size_t length = GbkCharLength(text, pos);
    if (text.size() - pos < length)
        return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if (IsControl(static_cast<unsigned char>(text[pos + i])))
            return 1;
    }
    return length;
}

void AppendEscape(std::string& out, unsigned char c)
{
    switch (c) {
    case '\r':
        out += "\\r";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\t':
        out += "\\t";
        return;
    default: {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", c);
        out += escape;
    }
    }
}

void AppendEscapingSlowly(std::string& out, std::string_view text)
{
    std::size_t copied = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto c = static_cast<unsigned char>(text[pos]);
        const bool control = IsControl(c);
        const unsigned c1 = control ? 0 : C1ControlAt(text, pos);
        if (!control && c1 == 0) {
            pos += WholeCharLength(text, pos);
            continue;
        }
        out.append(text, copied, pos - copied);
        if (c1 != 0) {
            char escape[12];
            std::snprintf(escape, sizeof escape, "\\u%04x", c1);
            out += escape;
            pos += 4;
        } else {
            AppendEscape(out, c);
            pos += 1;
        }
        copied = pos;
    }
    out.append(text, copied, text.size() - copied);
}

} // namespace

std::size_t GbkCharLength(std::string_view text, std::size_t pos)
{
    if (!IsLeadByte(static_cast<unsigned char>(text[pos])))
        return 1;
    if (pos + 1 < text.size() && IsDigit(static_cast<unsigned char>(text[pos + 1])))
        return 4;
    return 2;
}

std::size_t GbkPrefixLength(std::string_view text, std::size_t limit)
{
    if (limit > text.size())
        limit = text.size();
    std::size_t pos = 0;
    while (pos < limit) {
        std::size_t next = pos + GbkCharLength(text, pos);
        if (next > limit)
            break;
        pos = next;
    }
    return pos;
}

void AppendEscapingControls(std::string& out, const char* text)
{
    // One pass finds the end and whether anything may need escaping: a
    // control byte, or 0x81, the lead byte of every C1 control.
    const char* end = text;
    unsigned char c;
    while ((c = static_cast<unsigned char>(*end)) >= 0x20 && c != 0x7F && c != 0x81)
        ++end;
    if (c == 0) {
        out.append(text, static_cast<std::size_t>(end - text));
        return;
    }
    AppendEscapingSlowly(out, std::string_view(text));
}

} // namespace scrivlet
