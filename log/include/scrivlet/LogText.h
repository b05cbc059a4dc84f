#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace scrivlet {

// The rules every component's log lines share, whichever log they reach
// (CLog4c, or a callback of the transport). Any thread may call them.

// Exception and error texts keep at most this many bytes in a log line.
inline constexpr std::size_t kMaxErrorText = 259;

// The name a levelled line starts with: 0 "INFOR", 1 "DEBUG", any other
// "ERROR".
const char* LogLevelName(int level);

// `text` cut to kMaxErrorText bytes, never inside a GBK character.
std::string ErrorText(std::string_view text);

// Formats by printf rules into `buffer` (`size` bytes, at least 1) and
// returns the length written; a message longer than size - 1 bytes is cut
// at a GBK character boundary. The text is always zero-terminated.
std::size_t FormatText(char* buffer, std::size_t size, const char* format, va_list args);

} // namespace scrivlet
