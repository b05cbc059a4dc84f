#include "TextConverter.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>

namespace marlune {

namespace {

// The length of the ASCII run at the start of [p, end): eight bytes at a
// time while no high bit is set, as a file chunk of megabytes is ASCII.
std::size_t AsciiRun(const std::uint8_t* p, const std::uint8_t* end)
{
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    const std::uint8_t* start = p;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & kHighBits) != 0) {
            break;
        }
        p += 8;
    }
    while (p < end && *p < 0x80) {
        ++p;
    }
    return static_cast<std::size_t>(p - start);
}

bool IsAscii(std::string_view in)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(in.data());
    return AsciiRun(p, p + in.size()) == in.size();
}

// One iconv descriptor, opened on first use by the owning thread.
class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid()) {
            iconv_close(handle_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    bool Convert(std::string_view in, std::string& out)
    {
        out.clear();
        if (!valid()) {
            return false;
        }
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);   // reset the shift state
        // GB18030 takes at most 4 bytes per character and UTF-8 at most 4, so
        // twice the input (plus a little) holds the result of either direction.
        out.resize(in.size() * 2 + 8);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        while (srcLeft > 0) {
            if (iconv(handle_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
                out.clear();
                return false;   // EILSEQ, EINVAL (cut short) or E2BIG: not convertible
            }
        }
        if (iconv(handle_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            out.clear();
            return false;
        }
        out.resize(out.size() - dstLeft);
        return true;
    }

    // Converts what converts; each byte that starts no valid sequence
    // becomes one "?". Without a descriptor the text comes back as it is.
    std::string ConvertShowing(std::string_view in)
    {
        if (!valid())
            return std::string(in);
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char chunk[1024];
        while (srcLeft > 0) {
            char* dst = chunk;
            std::size_t dstLeft = sizeof chunk;
            const std::size_t rc = iconv(handle_, &src, &srcLeft, &dst, &dstLeft);
            out.append(chunk, static_cast<std::size_t>(dst - chunk));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                out += '?';
                ++src;
                --srcLeft;
                iconv(handle_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t handle_;
};

Converter& ToUtf8()
{
    thread_local Converter converter("UTF-8", "GB18030");
    return converter;
}

Converter& ToGbk()
{
    thread_local Converter converter("GB18030", "UTF-8");
    return converter;
}

} // namespace

bool TextConverter::GbkToUtf8(std::string_view in, std::string& out)
{
    try {
        if (IsAscii(in)) {
            out.assign(in);
            return true;
        }
        return ToUtf8().Convert(in, out);
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
}

std::string TextConverter::GbkToUtf8Showing(std::string_view in)
{
    return IsAscii(in) ? std::string(in) : ToUtf8().ConvertShowing(in);
}

bool TextConverter::Utf8ToGbk(std::string_view in, std::string& out)
{
    try {
        if (IsAscii(in)) {
            out.assign(in);
            return true;
        }
        if (!IsValidUtf8(in)) {
            out.clear();
            return false;
        }
        return ToGbk().Convert(in, out);
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
}

bool TextConverter::IsValidUtf8(std::string_view in)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        p += AsciiRun(p, end);
        if (p == end) {
            break;
        }
        const std::uint8_t c = *p;
        std::size_t extra = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1; code = c & 0x1Fu; least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2; code = c & 0x0Fu; least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3; code = c & 0x07u; least = 0x10000;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= extra) {
            return false;
        }
        for (std::size_t i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (p[i] & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        p += extra + 1;
    }
    return true;
}

} // namespace marlune
