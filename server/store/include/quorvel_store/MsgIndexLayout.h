#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::store {

// Byte layout of msg_index.dat: an 8-byte head (record count, first pending
// record) followed by 132-byte records, little-endian, texts GBK and
// NUL-terminated inside fixed-width fields, unused bytes zero.
namespace MsgIndexLayout {

inline constexpr std::size_t kHeadSize = 8;
inline constexpr std::size_t kRecordSize = 132;
inline constexpr std::size_t kUserIdField = 40;
inline constexpr std::size_t kServerNameField = 20;

inline constexpr std::size_t kSourceUserAt = 0;
inline constexpr std::size_t kSourceServerAt = 40;
inline constexpr std::size_t kTargetUserAt = 60;
inline constexpr std::size_t kTargetServerAt = 100;
inline constexpr std::size_t kSentAt = 120;
inline constexpr std::size_t kOffsetAt = 124;
inline constexpr std::size_t kLengthAt = 128;

// Where record n starts in the index file.
constexpr std::uint64_t RecordPosition(std::uint64_t n)
{
    return kHeadSize + kRecordSize * n;
}

} // namespace MsgIndexLayout

struct MSG_INDEX_HEAD {
    std::uint32_t count = 0;        // records in the file
    std::uint32_t firstPending = 0; // first unsent record found when the cache was opened

    void Encode(std::uint8_t* out) const;
    static MSG_INDEX_HEAD Decode(const std::uint8_t* in);
};

struct MSG_INDEX {
    std::string sourceUser;
    std::string sourceServer;
    std::string targetUser;
    std::string targetServer;
    std::uint8_t sent = 0; // 0 pending; anything else counts as sent
    std::uint32_t offset = 0;
    std::uint32_t length = 0;

    bool IsPending() const { return sent == 0; }

    // Texts longer than their field are cut so the terminator always fits;
    // callers decide beforehand whether a cut value may be stored at all.
    void Encode(std::uint8_t* out) const;
    static MSG_INDEX Decode(const std::uint8_t* in);
};

// True when the text fits a field of the given width with its terminator.
bool FitsField(const std::string& text, std::size_t width);

} // namespace quorvel::store
