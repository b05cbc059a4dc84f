#include "quorvel_client/CJsonObject.h"

#include <cstdio>

CJsonObject& CJsonObject::Add(std::string_view key, std::string_view value)
{
    Key(key);
    members_ += Quote(value);
    return *this;
}

CJsonObject& CJsonObject::AddNumber(std::string_view key, long long value)
{
    Key(key);
    members_ += std::to_string(value);
    return *this;
}

CJsonObject& CJsonObject::AddBool(std::string_view key, bool value)
{
    Key(key);
    members_ += value ? "true" : "false";
    return *this;
}

CJsonObject& CJsonObject::AddRaw(std::string_view key, std::string_view json)
{
    Key(key);
    members_ += json;
    return *this;
}

void CJsonObject::Key(std::string_view key)
{
    if (!members_.empty())
        members_ += ',';
    members_ += Quote(key);
    members_ += ':';
}

std::string CJsonObject::Quote(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}
