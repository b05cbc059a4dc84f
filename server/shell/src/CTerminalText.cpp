#include "quorvel_shell/CTerminalText.h"

#include "marlune/CXmlMsg.h"
#include "scrivlet/GbkText.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace quorvel::shell {

using marlune::CXmlMsg;
using scrivlet::GbkCharLength;

namespace {

// Bytes of the GB18030 character at pos, cut at the end of the text.
std::size_t CharLength(std::string_view text, std::size_t pos)
{
    return std::min(GbkCharLength(text, pos), text.size() - pos);
}

// The conversions of short non-ASCII stretches seen before: the log's fixed
// Chinese texts come back on every line, so almost every stretch is found
// here and the converter runs only for new text. Bounded: emptied when full.
class ConvertedStretches {
public:
    static constexpr std::size_t kMaxStretch = 96;
    static constexpr std::size_t kMaxEntries = 4096;

    const std::string& Convert(std::string_view stretch)
    {
        const auto found = known_.find(stretch);
        if (found != known_.end())
            return found->second;
        if (known_.size() >= kMaxEntries)
            known_.clear();
        return known_.emplace(std::string(stretch), CXmlMsg::g2uShowing(stretch)).first->second;
    }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> known_;
};

} // namespace

std::string CTerminalText::ToUtf8(std::string_view gbk)
{
    std::string out;
    AppendUtf8(out, gbk);
    return out;
}

void CTerminalText::AppendUtf8(std::string& out, std::string_view gbk)
{
    thread_local ConvertedStretches stretches;
    // ASCII goes over as it is; the stretches between go through the
    // converter, or the memory of its earlier answers. GB18030 has no shift
    // state, so converting stretch by stretch gives the same bytes as
    // converting the whole text.
    out.reserve(out.size() + gbk.size() + gbk.size() / 2);
    std::size_t pos = 0;
    while (pos < gbk.size()) {
        std::size_t end = pos;
        while (end < gbk.size() && static_cast<unsigned char>(gbk[end]) < 0x80)
            ++end;
        out.append(gbk, pos, end - pos);
        pos = end;
        while (end < gbk.size() && static_cast<unsigned char>(gbk[end]) >= 0x80)
            end += CharLength(gbk, end);
        if (end == pos)
            continue;
        const std::string_view stretch = gbk.substr(pos, end - pos);
        if (stretch.size() <= ConvertedStretches::kMaxStretch)
            out += stretches.Convert(stretch);
        else
            out += CXmlMsg::g2uShowing(stretch);
        pos = end;
    }
}

void CTerminalText::WriteLine(std::FILE* out, std::string_view gbkLine)
{
    std::string text;
    AppendLine(text, gbkLine);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

void CTerminalText::AppendLine(std::string& out, std::string_view gbkLine)
{
    if (!gbkLine.empty() && gbkLine.back() == '\n')
        gbkLine.remove_suffix(1);
    if (!gbkLine.empty() && gbkLine.back() == '\r')
        gbkLine.remove_suffix(1);
    AppendUtf8(out, gbkLine);
    out += '\n';
}

} // namespace quorvel::shell
