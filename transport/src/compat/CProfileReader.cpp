#include "CProfileReader.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace corvane {

namespace {

constexpr std::size_t kMaxValue = 259;

std::string Trim(const std::string& text)
{
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string Finish(std::string value)
{
    value = Trim(value);
    if (value.size() > kMaxValue)
        value.resize(kMaxValue);
    return Trim(value);
}

} // namespace

std::string CProfileReader::Read(const std::string& file, const std::string& section, const std::string& key,
                                 const std::string& defaultValue)
{
    std::ifstream in(file);
    std::string line;
    bool inSection = false;
    while (in && std::getline(in, line)) {
        std::string text = Trim(line);
        if (!text.empty() && text.front() == '[') {
            auto close = text.find(']');
            inSection = close != std::string::npos && SameName(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        auto eq = text.find('=');
        if (inSection && eq != std::string::npos && SameName(Trim(text.substr(0, eq)), key))
            return Finish(text.substr(eq + 1));
    }
    return Finish(defaultValue);
}

} // namespace corvane
