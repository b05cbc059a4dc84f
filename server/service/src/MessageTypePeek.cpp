#include "MessageTypePeek.h"

namespace quorvel::service {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == ':' || c == '.';
}

// Reads the head in order; every step fails for good once one failed.
class HeadReader {
public:
    explicit HeadReader(std::string_view text) : text_(text) {}

    void SkipSpace()
    {
        while (at_ < text_.size() && IsSpace(text_[at_]))
            ++at_;
    }
    bool Take(std::string_view word)
    {
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }
    // Skips past the next `word`.
    bool SkipPast(std::string_view word)
    {
        const std::size_t found = text_.find(word, at_);
        if (found == std::string_view::npos)
            return false;
        at_ = found + word.size();
        return true;
    }
    std::string_view Name()
    {
        const std::size_t from = at_;
        while (at_ < text_.size() && IsNameChar(text_[at_]))
            ++at_;
        return text_.substr(from, at_ - from);
    }
    // A quoted value, as it stands (entities not replaced).
    bool Value(std::string_view& value)
    {
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\''))
            return false;
        const char quote = text_[at_++];
        const std::size_t end = text_.find(quote, at_);
        if (end == std::string_view::npos)
            return false;
        value = text_.substr(at_, end - at_);
        at_ = end + 1;
        return true;
    }
    bool AtEnd() const { return at_ >= text_.size(); }
    char Next() const { return text_[at_]; }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

std::string_view PeekMessageType(std::string_view payload)
{
    HeadReader head(payload.substr(0, kMaxHeadBytes));
    head.SkipSpace();
    if (head.Take("<?xml") && !head.SkipPast("?>"))
        return {};
    head.SkipSpace();
    if (!head.Take("<msg"))
        return {};
    std::string_view type;
    bool typed = false;
    for (;;) {
        const bool spaced = !head.AtEnd() && IsSpace(head.Next());
        head.SkipSpace();
        if (head.AtEnd())
            return {};
        if (head.Next() == '>' || head.Next() == '/')
            return typed ? type : std::string_view();
        if (!spaced)
            return {};
        const std::string_view name = head.Name();
        std::string_view value;
        head.SkipSpace();
        if (name.empty() || !head.Take("="))
            return {};
        head.SkipSpace();
        if (!head.Value(value))
            return {};
        if (name == "type") {
            if (typed || value.find('&') != std::string_view::npos)
                return {};
            type = value;
            typed = true;
        }
    }
}

} // namespace quorvel::service
