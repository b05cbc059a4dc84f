#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel::shell {

// The log page's rule for its view: texts are appended at the end until the
// view holds more than kMaxViewChars characters; the next text then replaces
// the whole view, which starts afresh. The object follows the length of the
// view's text, so it is used on the thread that owns the view, once for each
// text shown there.
class CLogPageDlg {
public:
    static constexpr std::size_t kMaxViewChars = 8192;

    // How a text goes into the view.
    enum class Placement { AtEnd, ReplaceAll };

    // Where `gbkText` goes, given what the view holds; the view's length then
    // counts the text.
    Placement AppendLog(std::string_view gbkText);

    // Characters in the view.
    std::size_t TextLength() const { return length_; }

    // Characters in a GBK (GB18030) text: one per one-, two- or four-byte
    // sequence; a stray byte counts as one.
    static std::size_t CountChars(std::string_view gbkText);

private:
    std::size_t length_ = 0;
};

} // namespace quorvel::shell
