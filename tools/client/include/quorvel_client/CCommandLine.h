#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::client {

// One line of client input split into a verb and its arguments.
// Words are separated by blanks (space, tab). A word may be written in
// double quotes to hold blanks; inside quotes \" and \\ stand for " and \.
// A line that is empty, blank or starts with "#" (after blanks) has no verb.
// Texts are what the user typed (UTF-8). Any thread.
class CCommandLine {
public:
    // Splits `line`; false with `error` set on an unterminated quote.
    bool Parse(std::string_view line, std::string& error);

    // True when the line holds no command (blank or comment).
    bool Empty() const { return verb_.empty(); }
    // The first word, ASCII letters folded to lower case.
    const std::string& Verb() const { return verb_; }
    // Number of arguments after the verb.
    std::size_t Count() const { return args_.size(); }
    // Argument i (0 = the first after the verb), quotes removed.
    const std::string& Arg(std::size_t i) const { return args_.at(i).text; }
    // The line from argument i to its end exactly as typed (quotes and
    // inner blanks kept), trailing blanks and a final "\r" removed. Used for
    // free texts such as chat messages.
    std::string Rest(std::size_t i) const;

private:
    struct Word {
        std::string text;
        std::size_t start;  // offset of the word in line_
    };
    std::string line_;
    std::string verb_;
    std::vector<Word> args_;
};

} // namespace quorvel::client
