#include "CTerminalText.h"

#include <iconv.h>

#include <cerrno>

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

} // namespace

std::string CTerminalText::ToUtf8(std::string_view gbk)
{
    thread_local Converter converter;
    return converter.Convert(gbk);
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
