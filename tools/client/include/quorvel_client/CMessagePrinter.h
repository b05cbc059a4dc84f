#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marlune {
class CMessageBase;
}

namespace quorvel::client {

// Turns received messages into output lines, one line each, UTF-8:
// readable text for people, or one JSON object for scripts. Messages hold
// GBK texts; every text is converted. Any thread.
//
// Text lines read "TYPE from SOURCE to TARGET: DETAILS" (the from/to parts
// only when not empty); control characters in texts are shown as \n, \r,
// \t or \xNN. A JSON line carries the head (type, time, source, target,
// memo, routed), "body" (every body attribute), "content" (the text
// content; for "trans-file" only "chunk", the number of bytes it carries),
// "talkers" and "server" when the type has them.
class CMessagePrinter {
public:
    // A message of a known type.
    static std::string Text(marlune::CMessageBase& msg);
    static std::string Json(marlune::CMessageBase& msg);
    // A well-formed message of a type this client does not know (its head).
    static std::string UnknownText(const marlune::CMessageBase& head);
    static std::string UnknownJson(const marlune::CMessageBase& head);
    // A payload that is not a message at all.
    static std::string UnreadableText(std::size_t length, std::string_view reason);
    static std::string UnreadableJson(std::size_t length, std::string_view reason);
    // A file received whole and saved as `file` (UTF-8 texts).
    static std::string FileSavedText(const std::string& file, std::uintmax_t size, const std::string& source);
    static std::string FileSavedJson(const std::string& file, std::uintmax_t size, const std::string& source);

    // `utf8` with control characters escaped, so it stays on one line.
    static std::string OneLine(std::string_view utf8);
    // GBK text to UTF-8 on one line.
    static std::string Show(std::string_view gbk);

private:
    static std::string Prefix(const marlune::CMessageBase& head);
    static std::string Details(marlune::CMessageBase& msg);
};

} // namespace quorvel::client
