#pragma once

#include "quorvel_test_support/TempFolder.h"

#include <scrivlet/CLog4c.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using scrivlet::CLog4c;

// A temporary folder removed with the object, and the log lines written while
// it lives (the log's callback takes no context, so lines go to one list).
class CacheTestFolder {
public:
    CacheTestFolder();
    ~CacheTestFolder();
    CacheTestFolder(const CacheTestFolder&) = delete;
    CacheTestFolder& operator=(const CacheTestFolder&) = delete;

    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }
    CLog4c& Log() { return log; }

    // Lines logged so far (time stamps included) that contain text.
    static std::vector<std::string> LinesWith(const std::string& text);
    static void ClearLines();

private:
    quorvel::testsupport::TempFolder folder{"quorvel-cache"};
    std::string path = folder.Path().string();
    CLog4c log;
};

std::vector<std::uint8_t> ReadBytes(const std::string& file);
void WriteBytes(const std::string& file, const std::vector<std::uint8_t>& bytes);
// Little-endian 32-bit number at offset.
std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t offset);
// NUL-terminated text in a field starting at offset.
std::string TextAt(const std::vector<std::uint8_t>& bytes, std::size_t offset);

// An index write fault (CMsgCache::Faults) failing only the sent marks, the
// index's one-byte writes, with EIO.
int FailSentMarks(std::uint64_t position, std::size_t length);
