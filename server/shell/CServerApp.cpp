#include "CServerApp.h"

#include "CIniFile.h"
#include "CTerminalText.h"
#include "scrivlet/CLog4c.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const char* const kSection = "SERVER";
const char* const kSendAllFriend = "SendAllFriend";

// A folder that exists already, or cannot be made, is no error.
void MakeFolder(const std::string& path)
{
    ::mkdir(path.c_str(), 0755);
}

} // namespace

bool CServerApp::InitInstance(CLog4c& log)
{
    std::string folder = ProgramFolder();
    if (folder.empty()) {
        CTerminalText::WriteLine(stderr, "cannot read the program's folder from /proc/self/exe");
        return false;
    }
    return InitInstance(log, folder);
}

bool CServerApp::InitInstance(CLog4c& log, const std::string& moduleDir)
{
    // Writes to closed connections must fail with an error, not end the process.
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR) {
        CTerminalText::WriteLine(stderr, "Windows 通信端口初始化失败。");
        return false;
    }
    moduleDir_ = moduleDir;
    tempDir_ = moduleDir_ + "/tmp";
    dataDir_ = moduleDir_ + "/data";
    const std::string logDir = moduleDir_ + "/log";
    MakeFolder(tempDir_);
    MakeFolder(dataDir_);
    MakeFolder(logDir);
    log.InitInstance(logDir);

    MakeFolder(moduleDir_ + "/config");
    settingsPath_ = moduleDir_ + "/config/server.ini";
    sendAllFriend_ = IsPositiveNumber(ReadSetting(kSection, kSendAllFriend, "0"));
    return true;
}

int CServerApp::ExitInstance()
{
    WriteSettings();
    return 0;
}

std::string CServerApp::ReadSetting(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const
{
    return CIniFile(settingsPath_).GetString(section, key, defaultValue);
}

bool CServerApp::WriteSettings() const
{
    return CIniFile(settingsPath_).SetString(kSection, kSendAllFriend, sendAllFriend_ ? "1" : "0");
}

std::string CServerApp::ProgramFolder()
{
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        return {};
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return path.substr(0, slash);
}

bool CServerApp::IsPositiveNumber(const std::string& text)
{
    return std::strtol(text.c_str(), nullptr, 10) > 0;
}
