// Any bytes as an INI file, through CIniFile. Besides the sanitizers'
// findings it checks that a key once set reads back as set, and that setting
// it again to the same value changes nothing in the file.
#include "FuzzTempFolder.h"

#include "quorvel_shell/CIniFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using quorvel::shell::CIniFile;
using quorvel::testsupport::TempFolder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = (FuzzTempFolder() / "server.ini").string();
    TempFolder::Write(path, std::string(reinterpret_cast<const char*>(data), size));
    CIniFile ini(path);
    const std::string before = ini.GetString("SERVER", "SendAllFriend", "0");
    if (before.size() > CIniFile::kMaxValue)
        std::abort();
    ini.GetString("Other", "Key", "");
    const std::string value = before == "1" ? "0" : "1";
    if (!ini.SetString("SERVER", "SendAllFriend", value))
        return 0;
    if (ini.GetString("SERVER", "SendAllFriend", "unset") != value)
        std::abort();   // a key once set reads back
    const std::string written = TempFolder::Read(path);
    if (!ini.SetString("SERVER", "SendAllFriend", value) || TempFolder::Read(path) != written)
        std::abort();   // setting the same value again changes nothing
    return 0;
}
