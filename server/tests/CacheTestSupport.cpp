#include "CacheTestSupport.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <mutex>

namespace {

std::mutex linesLock;
std::vector<std::string> lines;

void Collect(const char* line)
{
    std::lock_guard<std::mutex> guard(linesLock);
    lines.emplace_back(line);
}

} // namespace

CacheTestFolder::CacheTestFolder()
{
    log.RegLogEvent(&Collect);
    ClearLines();
}

CacheTestFolder::~CacheTestFolder()
{
    log.RegLogEvent(nullptr);
}

std::vector<std::string> CacheTestFolder::LinesWith(const std::string& text)
{
    std::lock_guard<std::mutex> guard(linesLock);
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

void CacheTestFolder::ClearLines()
{
    std::lock_guard<std::mutex> guard(linesLock);
    lines.clear();
}

std::vector<std::uint8_t> ReadBytes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& file, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8
        | static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16 | static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

std::string TextAt(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    std::string text;
    for (std::size_t i = offset; i < bytes.size() && bytes[i] != 0; ++i)
        text.push_back(static_cast<char>(bytes[i]));
    return text;
}

int FailSentMarks(std::uint64_t, std::size_t length)
{
    return length == 1 ? EIO : 0;
}
