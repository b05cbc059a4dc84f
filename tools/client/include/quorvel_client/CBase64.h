#pragma once

#include <string>
#include <string_view>

namespace quorvel::client {

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks): the
// encoding of file chunks in "trans-file" messages. Any thread.
class CBase64 {
public:
    // The base64 text of `bytes`.
    static std::string Encode(std::string_view bytes);
    // Decodes `text` into `out`. White space is skipped; any other character
    // outside the alphabet, or a length that is not a whole number of
    // 4-character groups, gives false (`out` is then unspecified).
    static bool Decode(std::string_view text, std::string& out);
    // Bytes that Encode produces for `bytes` input bytes.
    static constexpr std::size_t EncodedSize(std::size_t bytes) { return (bytes + 2) / 3 * 4; }
};

} // namespace quorvel::client
