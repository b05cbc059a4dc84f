#include "scrivlet/GbkText.h"

namespace {

bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

bool IsDigit(unsigned char c)
{
    return c >= 0x30 && c <= 0x39;
}

// Bytes of the character starting at `pos`: 1 for ASCII, 4 for a GB18030
// four-byte sequence (lead byte, then a digit), 2 for every other lead byte.
std::size_t CharLength(std::string_view text, std::size_t pos)
{
    if (!IsLeadByte(static_cast<unsigned char>(text[pos])))
        return 1;
    if (pos + 1 < text.size() && IsDigit(static_cast<unsigned char>(text[pos + 1])))
        return 4;
    return 2;
}

} // namespace

std::size_t GbkPrefixLength(std::string_view text, std::size_t limit)
{
    if (limit > text.size())
        limit = text.size();
    std::size_t pos = 0;
    while (pos < limit) {
        std::size_t next = pos + CharLength(text, pos);
        if (next > limit)
            break;
        pos = next;
    }
    return pos;
}
