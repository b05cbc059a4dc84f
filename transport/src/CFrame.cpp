#include "corvane/CFrame.h"

#include <cstring>

namespace corvane {

namespace {

constexpr std::size_t kFlagSize = 8;   // "RAS_DATA" without its zero
constexpr std::size_t kLengthOffset = 12;
constexpr std::size_t kVersionOffset = 16;

} // namespace

void CFrame::BuildHeader(std::uint8_t* out, std::uint32_t length)
{
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out, kFlag, kFlagSize);
    for (std::size_t i = 0; i < 4; ++i)
        out[kLengthOffset + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

CFrame::Status CFrame::Parse(const std::uint8_t* data, std::size_t size, View& frame)
{
    if (size < kHeaderSize)
        return Status::kNeedMore;
    // The flag compares as a zero-terminated string: byte 8 must end it.
    if (std::memcmp(data, kFlag, kFlagSize) != 0 || data[kFlagSize] != 0)
        return Status::kBadHeader;
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(data[kLengthOffset + i]) << (8 * i);
    if (length == 0)
        return Status::kBadHeader;
    if (size - kHeaderSize < length)
        return Status::kNeedMore;
    frame.payload = data + kHeaderSize;
    frame.length = length;
    frame.version = data[kVersionOffset];
    return Status::kComplete;
}

} // namespace corvane
