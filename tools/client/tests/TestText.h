#pragma once

#include <string>
#include <string_view>

// Test sources are compiled with GB18030 narrow literals; u8 literals stay
// UTF-8. This turns the latter into the std::string the client takes.
inline std::string Utf8(std::u8string_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}
