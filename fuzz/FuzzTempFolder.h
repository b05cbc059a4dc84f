#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// One scratch folder under /tmp for the whole run of a file-reading fuzz
// target: created at first use, removed with its contents at exit.
inline const std::filesystem::path& FuzzTempFolder()
{
    static const std::filesystem::path folder = [] {
        char pattern[] = "/tmp/quorvel_fuzz_XXXXXX";
        std::filesystem::path made = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(FuzzTempFolder(), ignored);
        });
        return made;
    }();
    return folder;
}

// Writes `size` bytes to `file`, replacing what was there.
inline void WriteFuzzFile(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}
