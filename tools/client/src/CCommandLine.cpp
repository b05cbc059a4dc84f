#include "quorvel_client/CCommandLine.h"

namespace quorvel::client {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

bool CCommandLine::Parse(std::string_view line, std::string& error)
{
    line_.assign(line);
    verb_.clear();
    args_.clear();
    std::vector<Word> words;
    std::size_t i = 0;
    while (i < line_.size()) {
        while (i < line_.size() && IsBlank(line_[i]))
            ++i;
        if (i >= line_.size())
            break;
        if (words.empty() && line_[i] == '#')
            return true;
        Word word{{}, i};
        bool quoted = false;
        for (; i < line_.size() && (quoted || !IsBlank(line_[i])); ++i) {
            const char c = line_[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (quoted && c == '\\' && i + 1 < line_.size() && (line_[i + 1] == '"' || line_[i + 1] == '\\')) {
                word.text += line_[++i];
            } else {
                word.text += c;
            }
        }
        if (quoted) {
            error = "unterminated quote";
            return false;
        }
        words.push_back(std::move(word));
    }
    if (words.empty())
        return true;
    verb_ = words.front().text;
    for (char& c : verb_) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    args_.assign(words.begin() + 1, words.end());
    return true;
}

std::string CCommandLine::Rest(std::size_t i) const
{
    if (i >= args_.size())
        return {};
    std::string rest = line_.substr(args_[i].start);
    while (!rest.empty() && IsBlank(rest.back()))
        rest.pop_back();
    return rest;
}

} // namespace quorvel::client
