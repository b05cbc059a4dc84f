#pragma once

#include <string>

namespace corvane {

// Reads one value of an INI file the way the platform's profile reader does:
// "[section]" headers, "key=value" lines, section and key names compared
// case-insensitively, value trimmed and cut to 259 characters, the default
// when the file, section or key is missing.
class CProfileReader {
public:
    static std::string Read(const std::string& file, const std::string& section, const std::string& key,
                            const std::string& defaultValue);
};

} // namespace corvane
