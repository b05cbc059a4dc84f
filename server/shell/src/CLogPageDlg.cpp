#include "quorvel_shell/CLogPageDlg.h"

namespace quorvel::shell {

CLogPageDlg::Placement CLogPageDlg::AppendLog(std::string_view gbkText)
{
    const std::size_t added = CountChars(gbkText);
    if (length_ > kMaxViewChars) {
        length_ = added;
        return Placement::ReplaceAll;
    }
    length_ += added;
    return Placement::AtEnd;
}

std::size_t CLogPageDlg::CountChars(std::string_view gbkText)
{
    auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(gbkText[i]); };
    auto isDigit = [](unsigned char b) { return b >= 0x30 && b <= 0x39; };
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < gbkText.size()) {
        const unsigned char lead = byteAt(i);
        std::size_t step = 1;
        if (lead >= 0x81 && lead <= 0xFE && i + 1 < gbkText.size()) {
            if (isDigit(byteAt(i + 1)))
                step = (i + 3 < gbkText.size()) ? 4 : 1;
            else
                step = 2;
        }
        i += step;
        ++count;
    }
    return count;
}

} // namespace quorvel::shell
