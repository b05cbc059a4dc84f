#include "quorvel_shell/CIniFile.h"

#include "scrivlet/GbkText.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace quorvel::shell {

using scrivlet::GbkPrefixLength;

namespace {

using Lines = std::vector<std::string>;

std::string_view Trim(std::string_view text)
{
    const char* blanks = " \t\r\n\v\f";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// The name of a "[name]" line, trimmed; nothing when the line is no header.
std::optional<std::string_view> SectionName(std::string_view line)
{
    std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    std::size_t close = text.rfind(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

// The key and value of a line inside a section; a line without "=" is a key
// with an empty value; blank lines and headers are no entries.
std::optional<Entry> ParseEntry(std::string_view line)
{
    std::string_view text = Trim(line);
    if (text.empty() || SectionName(text))
        return std::nullopt;
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return Entry{text, {}};
    return Entry{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

// Where a key is, or would go, in the lines of a file.
struct Place {
    std::optional<std::size_t> section;  // header line of the first matching section
    std::optional<std::size_t> key;      // first matching key line in it
    std::size_t lastFilled = 0;          // last non-blank line of the section
};

Place Find(const Lines& lines, std::string_view section, std::string_view key)
{
    Place place;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i])) {
            if (place.section)
                break;
            if (EqualsNoCase(*name, section)) {
                place.section = i;
                place.lastFilled = i;
            }
            continue;
        }
        if (!place.section)
            continue;
        auto entry = ParseEntry(lines[i]);
        if (!entry)
            continue;
        place.lastFilled = i;
        if (!place.key && EqualsNoCase(entry->key, key))
            place.key = i;
    }
    return place;
}

// The file's lines without their "\n"; a "\r" before it stays in the line.
std::optional<Lines> ReadLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return lines;
}

bool UsesCrLf(const Lines& lines)
{
    if (lines.empty())
        return true;
    for (const std::string& line : lines) {
        if (!line.empty() && line.back() == '\r')
            return true;
    }
    return false;
}

// Writes each line followed by "\n"; a line keeps its own "\r".
bool WriteLines(const std::string& path, const Lines& lines)
{
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            out << line << '\n';
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

CIniFile::CIniFile(std::string path) : path_(std::move(path)) {}

std::string CIniFile::GetString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const
{
    std::optional<Lines> lines = ReadLines(path_);
    if (!lines)
        return std::string(defaultValue);
    Place place = Find(*lines, section, key);
    if (!place.key)
        return std::string(defaultValue);
    std::string_view value = ParseEntry((*lines)[*place.key])->value;
    return std::string(value.substr(0, GbkPrefixLength(value, kMaxValue)));
}

bool CIniFile::SetString(std::string_view section, std::string_view key, std::string_view value) const
{
    Lines lines = ReadLines(path_).value_or(Lines{});
    // New lines follow the file's line ends; a new file gets "\r\n".
    const std::string cr = UsesCrLf(lines) ? "\r" : "";
    Place place = Find(lines, section, key);
    if (place.key) {
        std::string& line = lines[*place.key];
        const std::string ownCr = (!line.empty() && line.back() == '\r') ? "\r" : "";
        line = std::string(ParseEntry(line)->key) + "=" + std::string(value) + ownCr;
    } else if (place.section) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.lastFilled + 1),
                     std::string(key) + "=" + std::string(value) + cr);
    } else {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.push_back(cr);
        lines.push_back("[" + std::string(section) + "]" + cr);
        lines.push_back(std::string(key) + "=" + std::string(value) + cr);
    }
    return WriteLines(path_, lines);
}

} // namespace quorvel::shell
