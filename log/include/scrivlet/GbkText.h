#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace scrivlet {

// Bytes of the GBK (GB18030) character starting at `pos` (< text.size()):
// 1 for ASCII and for a byte that leads no character (0x80, 0xFF), 4 for a
// lead byte followed by a digit (a four-byte sequence), 2 for any other lead
// byte. The count may run past the end of a cut text. Any thread.
std::size_t GbkCharLength(std::string_view text, std::size_t pos);

// Length of the longest prefix of `text` that is at most `limit` bytes long
// and ends on a character boundary of GBK (GB18030) text: a two-byte or
// four-byte character is kept whole or dropped whole, never cut in two. A
// character whose bytes run past the end of `text` counts as cut, so `text`
// may be the truncated start of a longer text. Any thread may call it.
std::size_t GbkPrefixLength(std::string_view text, std::size_t limit);

// Appends the zero-terminated GBK `text` to `out` with its control
// characters made visible, so a text that came from the network cannot start
// a line of its own or drive a terminal: carriage return, line feed and tab
// as \r, \n and \t, every other byte below 0x20 and 0x7F as \xNN, and the
// C1 controls U+0080 to U+009F (four-byte GB18030 sequences, which a terminal
// receives as UTF-8) as \u00NN. Bytes inside a GBK character are never
// escaped: trail bytes are 0x30 or more and never 0x7F. Text without any of
// these is appended as it is. Any thread may call it.
void AppendEscapingControls(std::string& out, const char* text);

} // namespace scrivlet
