#include "scrivlet/LogText.h"

#include "scrivlet/GbkText.h"

#include <cstdio>

namespace scrivlet {

const char* LogLevelName(int level)
{
    switch (level) {
    case 0:
        return "INFOR";
    case 1:
        return "DEBUG";
    default:
        return "ERROR";
    }
}

std::string ErrorText(std::string_view text)
{
    return std::string(text.substr(0, GbkPrefixLength(text, kMaxErrorText)));
}

std::size_t FormatText(char* buffer, std::size_t size, const char* format, va_list args)
{
    const int n = std::vsnprintf(buffer, size, format ? format : "", args);
    std::size_t length = 0;
    if (n >= static_cast<int>(size))
        length = GbkPrefixLength(std::string_view(buffer, size - 1), size - 1);
    else if (n > 0)
        length = static_cast<std::size_t>(n);
    buffer[length] = '\0';
    return length;
}

} // namespace scrivlet
