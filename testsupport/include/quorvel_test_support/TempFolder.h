#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace quorvel::testsupport {

// A fresh folder /tmp/<prefix>_XXXXXX, removed with everything in it at
// scope end unless kept. Throws std::runtime_error when none can be made.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "quorvel_test")
    {
        std::string pattern = "/tmp/" + prefix + "_XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!keep_)
            std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Leaves the folder in place at scope end (to look into after a run).
    void Keep() { keep_ = true; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    static std::string Read(const std::filesystem::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::filesystem::path& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }

private:
    std::filesystem::path path_;
    bool keep_ = false;
};

} // namespace quorvel::testsupport
