#include "quorvel_store/MsgIndexLayout.h"

#include <algorithm>
#include <cstring>

namespace quorvel::store {

namespace {

void PutU32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* in)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

void PutText(std::uint8_t* out, const std::string& text, std::size_t width)
{
    const std::size_t n = std::min(text.size(), width - 1);
    std::memcpy(out, text.data(), n);
}

// A field without a terminator (written by something else) ends at its width.
std::string GetText(const std::uint8_t* in, std::size_t width)
{
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(in, 0, width));
    return std::string(reinterpret_cast<const char*>(in), end ? static_cast<std::size_t>(end - in) : width);
}

} // namespace

using namespace MsgIndexLayout;

void MSG_INDEX_HEAD::Encode(std::uint8_t* out) const
{
    PutU32(out, count);
    PutU32(out + 4, firstPending);
}

MSG_INDEX_HEAD MSG_INDEX_HEAD::Decode(const std::uint8_t* in)
{
    return MSG_INDEX_HEAD{GetU32(in), GetU32(in + 4)};
}

void MSG_INDEX::Encode(std::uint8_t* out) const
{
    std::memset(out, 0, kRecordSize);
    PutText(out + kSourceUserAt, sourceUser, kUserIdField);
    PutText(out + kSourceServerAt, sourceServer, kServerNameField);
    PutText(out + kTargetUserAt, targetUser, kUserIdField);
    PutText(out + kTargetServerAt, targetServer, kServerNameField);
    out[kSentAt] = sent;
    PutU32(out + kOffsetAt, offset);
    PutU32(out + kLengthAt, length);
}

MSG_INDEX MSG_INDEX::Decode(const std::uint8_t* in)
{
    MSG_INDEX record;
    record.sourceUser = GetText(in + kSourceUserAt, kUserIdField);
    record.sourceServer = GetText(in + kSourceServerAt, kServerNameField);
    record.targetUser = GetText(in + kTargetUserAt, kUserIdField);
    record.targetServer = GetText(in + kTargetServerAt, kServerNameField);
    record.sent = in[kSentAt];
    record.offset = GetU32(in + kOffsetAt);
    record.length = GetU32(in + kLengthAt);
    return record;
}

bool FitsField(const std::string& text, std::size_t width)
{
    return text.size() < width;
}

} // namespace quorvel::store
