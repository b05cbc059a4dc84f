#pragma once

#include <cstddef>
#include <string_view>

// Length of the longest prefix of `text` that is at most `limit` bytes long
// and ends on a character boundary of GBK (GB18030) text: a two-byte or
// four-byte character is kept whole or dropped whole, never cut in two. A
// character whose bytes run past the end of `text` counts as cut, so `text`
// may be the truncated start of a longer text. Any thread may call it.
std::size_t GbkPrefixLength(std::string_view text, std::size_t limit);
