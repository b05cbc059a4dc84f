#include "quorvel_client/CBase64.h"

#include <array>
#include <cstdint>

namespace quorvel::client {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPad = 0xFE;

constexpr std::array<std::uint8_t, 256> MakeTable()
{
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table)
        entry = kInvalid;
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    table['='] = kPad;
    return table;
}

constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

bool IsSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

} // namespace

std::string CBase64::Encode(std::string_view bytes)
{
    std::string out;
    out.reserve(EncodedSize(bytes.size()));
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 |
                                static_cast<std::uint8_t>(bytes[i + 1]) << 8 | static_cast<std::uint8_t>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (left == 2)
            v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += left == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

bool CBase64::Decode(std::string_view text, std::string& out)
{
    out.clear();
    out.reserve(text.size() / 4 * 3);
    std::uint8_t group[4];
    std::size_t filled = 0;
    bool ended = false;  // a padded group was seen: nothing may follow
    for (char c : text) {
        if (IsSpace(c))
            continue;
        const std::uint8_t v = kTable[static_cast<unsigned char>(c)];
        if (v == kInvalid || ended)
            return false;
        group[filled++] = v;
        if (filled < 4)
            continue;
        filled = 0;
        if (group[0] == kPad || group[1] == kPad || (group[2] == kPad && group[3] != kPad))
            return false;
        out += static_cast<char>(group[0] << 2 | group[1] >> 4);
        if (group[2] != kPad)
            out += static_cast<char>((group[1] & 15) << 4 | group[2] >> 2);
        if (group[3] != kPad)
            out += static_cast<char>((group[2] & 3) << 6 | group[3]);
        else
            ended = true;
    }
    return filled == 0;
}

} // namespace quorvel::client
