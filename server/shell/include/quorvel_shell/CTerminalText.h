#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvel::shell {

// Shows the system's GBK texts on a terminal, which speaks UTF-8.
// Every function may be called from any thread; each line goes out with one
// write, so lines from different threads never mix.
class CTerminalText {
public:
    // The GBK (GB18030) text in UTF-8; a byte that starts no valid character
    // becomes "?".
    static std::string ToUtf8(std::string_view gbk);
    // The same conversion appended to `out`.
    static void AppendUtf8(std::string& out, std::string_view gbk);

    // Writes one line in UTF-8: its own line end ("\r\n" or "\n") is replaced
    // by "\n", and the stream is flushed so the line shows at once.
    static void WriteLine(std::FILE* out, std::string_view gbkLine);
    // The line as WriteLine writes it, appended to `out`.
    static void AppendLine(std::string& out, std::string_view gbkLine);
};

} // namespace quorvel::shell
