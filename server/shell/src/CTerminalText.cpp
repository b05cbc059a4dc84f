#include "quorvel_shell/CTerminalText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <unordered_map>

namespace {

// One conversion descriptor per thread, since iconv state may not be shared
// between threads; opening one costs more than converting a line, and a busy
// server prints tens of thousands of lines a second.
class Converter {
public:
    Converter() : cd_(iconv_open("UTF-8", "GB18030")) {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    std::string Convert(std::string_view in)
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            return std::string(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char chunk[1024];
        while (srcLeft > 0) {
            char* dst = chunk;
            std::size_t dstLeft = sizeof chunk;
            std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(chunk, static_cast<std::size_t>(dst - chunk));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // Invalid or truncated sequence: show one "?" and go on.
                out += '?';
                ++src;
                --srcLeft;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t cd_;
};

// Bytes of the GB18030 character at pos, as the converter reads it: one for
// ASCII (and a lone 0x80 or 0xFF), four for a lead byte then a digit, else
// two (a lead byte whose trail is missing or wrong is still taken with the
// byte after it: the converter then writes "?" for the lead byte and goes on
// with that byte, within this stretch as it would within the whole text).
std::size_t CharLength(std::string_view text, std::size_t pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (byte(pos) < 0x81 || byte(pos) == 0xFF)
        return 1;
    if (pos + 1 < text.size() && byte(pos + 1) >= 0x30 && byte(pos + 1) <= 0x39)
        return std::min<std::size_t>(4, text.size() - pos);
    return std::min<std::size_t>(2, text.size() - pos);
}

// The conversions of short non-ASCII stretches seen before: the log's fixed
// Chinese texts come back on every line, so almost every stretch is found
// here and the converter runs only for new text. Bounded: emptied when full.
class ConvertedStretches {
public:
    static constexpr std::size_t kMaxStretch = 96;
    static constexpr std::size_t kMaxEntries = 4096;

    const std::string& Convert(std::string_view stretch, Converter& converter)
    {
        const auto found = known_.find(stretch);
        if (found != known_.end())
            return found->second;
        if (known_.size() >= kMaxEntries)
            known_.clear();
        return known_.emplace(std::string(stretch), converter.Convert(stretch)).first->second;
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
    thread_local Converter converter;
    thread_local ConvertedStretches stretches;
    // ASCII goes over as it is; the stretches between go through the
    // converter, or the memory of its earlier answers. GB18030 has no shift
    // state, so converting stretch by stretch gives the same bytes as
    // converting the whole text.
    std::string out;
    out.reserve(gbk.size() + gbk.size() / 2);
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
            out += stretches.Convert(stretch, converter);
        else
            out += converter.Convert(stretch);
        pos = end;
    }
    return out;
}

void CTerminalText::WriteLine(std::FILE* out, std::string_view gbkLine)
{
    WriteLineUnflushed(out, gbkLine);
    std::fflush(out);
}

void CTerminalText::WriteLineUnflushed(std::FILE* out, std::string_view gbkLine)
{
    if (!gbkLine.empty() && gbkLine.back() == '\n')
        gbkLine.remove_suffix(1);
    if (!gbkLine.empty() && gbkLine.back() == '\r')
        gbkLine.remove_suffix(1);
    std::string text = ToUtf8(gbkLine);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out);
}
