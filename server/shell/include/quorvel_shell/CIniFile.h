#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::shell {

// An INI file read and written with the usual profile semantics: "[section]"
// lines open sections, "key=value" lines hold values; section and key names
// are compared without regard to ASCII case; names and values are trimmed of
// white space; the first matching section and key win. Text is GBK bytes,
// passed through untouched. Writing one key rewrites only that key's line and
// keeps every other line of the file as it was.
//
// Thread safety: one object may be used from one thread at a time; the file
// itself is not locked against other writers.
class CIniFile {
public:
    // Values read keep at most this many bytes (never half a character).
    static constexpr std::size_t kMaxValue = 259;

    explicit CIniFile(std::string path);

    // The value of `key` in `section`, trimmed and cut to kMaxValue bytes;
    // `defaultValue` when the file, the section or the key is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;

    // Sets `key` in `section` to `value`: an existing key keeps its line and
    // spelling, a new key goes after the section's last line, a new section
    // at the end of the file, which is created if needed. The file is
    // replaced whole (written beside it, then renamed), so a failed write
    // leaves the old one. False when it cannot be written.
    bool SetString(std::string_view section, std::string_view key, std::string_view value) const;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

} // namespace quorvel::shell
