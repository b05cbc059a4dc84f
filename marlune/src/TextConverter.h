#pragma once

#include <string>
#include <string_view>

namespace marlune {

// GB18030 <-> UTF-8 through iconv. iconv handles are not thread-safe, so
// each thread lazily opens its own pair and closes it when the thread ends.
// ASCII text is copied without iconv. Any thread.
class TextConverter {
public:
    // Converts into `out` (replaced); false when `in` is not valid in its
    // encoding, `out` is then empty.
    static bool GbkToUtf8(std::string_view in, std::string& out);
    static bool Utf8ToGbk(std::string_view in, std::string& out);
    // GBK to UTF-8 for showing: each byte that starts no valid character
    // becomes "?", so every text gives something. May throw bad_alloc.
    static std::string GbkToUtf8Showing(std::string_view in);

    // Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    static bool IsValidUtf8(std::string_view in);
};

} // namespace marlune
