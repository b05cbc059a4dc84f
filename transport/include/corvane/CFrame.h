#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// The wire frame: a 24-byte header, then `length` payload bytes.
//   offset 0  (12) flag "RAS_DATA", zero padded; byte 8 must be 0
//   offset 12  (4) payload length, unsigned little-endian
//   offset 16  (1) version, sent as 0
//   offset 17  (7) reserved, zero
class CFrame {
public:
    static constexpr std::size_t kHeaderSize = 24;
    static constexpr const char* kFlag = "RAS_DATA";
    // Largest payload a peer may send; a connection holding more than
    // kMaxPayload + kHeaderSize bytes without a complete frame is closed.
    static constexpr std::uint32_t kMaxPayload = 16u * 1024 * 1024;

    // Result of looking at the front of a receive buffer.
    enum class Status {
        kNeedMore,  // fewer than 24 bytes, or the payload is not complete yet
        kComplete,  // a whole frame is present
        kBadHeader, // bad flag or length 0: nothing behind it is delivered
    };

    struct View {
        const std::uint8_t* payload = nullptr;
        std::uint32_t length = 0;
        std::uint8_t version = 0;
    };

    // Writes the header of a frame carrying `length` bytes to out[0..23].
    static void BuildHeader(std::uint8_t* out, std::uint32_t length);

    // Looks at the frame at the front of size bytes at data. On kComplete,
    // `frame` points into data and the frame occupies kHeaderSize +
    // frame.length bytes. Never reads past data + size.
    static Status Parse(const std::uint8_t* data, std::size_t size, View& frame);
};

} // namespace corvane
