#pragma once

#include "quorvel_store/CMsgCache.h"
#include "quorvel_service/CServiceLimits.h"

#include <cstdint>
#include <string>

namespace scrivlet {
class CLog4c;
}

namespace quorvel::shell {

// The program's application object: prepares the process (SIGPIPE ignored,
// the open-file soft limit raised to the hard one, the folders tmp, data,
// log and config below the program's own folder, the log's folder, the
// settings file config/server.ini) and holds the settings the message
// service reads: SendAllFriend, the store's bounds and the [LIMITS] counts.
//
// Thread: every method runs on the main thread (start-up, exit, the options
// command); the flag needs no lock because only that thread touches it.
class CServerApp {
public:
    CServerApp() = default;
    CServerApp(const CServerApp&) = delete;
    CServerApp& operator=(const CServerApp&) = delete;

    // Start-up with the folder of the program file. False when the program
    // must end at once; the reason has been written to standard error.
    bool InitInstance(scrivlet::CLog4c& log);
    // Start-up below `moduleDir` (a folder path without a trailing "/").
    bool InitInstance(scrivlet::CLog4c& log, const std::string& moduleDir);
    // Writes the settings; returns the process exit status, 0.
    int ExitInstance();

    // The value of `key` in `section` of the settings file, trimmed and at
    // most 259 bytes; `defaultValue` when the file or the key is missing.
    std::string ReadSetting(const std::string& section, const std::string& key,
                            const std::string& defaultValue) const;
    // Writes SendAllFriend ("1" or "0") to section SERVER of the settings
    // file, creating it if needed. False when the file cannot be written
    // (callers ignore it; the setting stays in memory).
    bool WriteSettings() const;

    // When set, every user counts as a friend of every other user.
    bool SendAllFriend() const { return sendAllFriend_; }
    // The message store's bounds, read from [LIMITS] at start-up (an absent
    // or unusable key keeps its default); never written back.
    const store::CMsgCache::Limits& StoreLimits() const { return storeLimits_; }
    void SetSendAllFriend(bool value) { sendAllFriend_ = value; }

    // The [LIMITS] counts read at start-up; absent or unusable keys keep
    // their defaults.
    const service::CServiceLimits& Limits() const { return limits_; }

    const std::string& ModuleDir() const { return moduleDir_; }
    const std::string& DataDir() const { return dataDir_; }
    const std::string& TempDir() const { return tempDir_; }
    const std::string& SettingsPath() const { return settingsPath_; }

    // The folder of the running program file (from /proc/self/exe, cut at
    // its last "/"); empty when it cannot be read.
    static std::string ProgramFolder();
    // A setting read as a decimal number (leading blanks and a sign allowed,
    // reading stops at the first non-digit): true when greater than 0.
    static bool IsPositiveNumber(const std::string& text);

private:
    std::uint64_t ReadLimit(const char* key, std::uint64_t defaultValue, std::uint64_t most) const;

    bool sendAllFriend_ = false;
    store::CMsgCache::Limits storeLimits_;
    service::CServiceLimits limits_;
    std::string settingsPath_;
    std::string dataDir_;
    std::string tempDir_;
    std::string moduleDir_;
};

} // namespace quorvel::shell
