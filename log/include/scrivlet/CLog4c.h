#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace scrivlet {

// The system's log: every line gets a local time stamp, goes at once to a live
// callback, and gathers in memory until more than 256 KiB have gathered or the
// object is destroyed; then the text is appended to one file per day,
// "<logPath>/YYYY-MM-DD.txt", which stays open between saves. Texts are
// GBK bytes and are never converted,
// but their control characters are escaped (AppendEscapingControls), so a
// field that came from the network can neither forge a line nor reach a
// terminal as a control sequence.
//
// Thread safety: every operation may be called from any thread. One mutex
// makes "time stamp, append, size test, save" one step per line, so the file
// holds lines in time-stamp order. The callback runs on the caller's thread
// after that step, outside the mutex, so a callback that logs, or that waits
// for another thread that logs, cannot deadlock; callbacks from different
// threads may run at the same time and must serialise their own output.
class CLog4c {
public:
    // Receives one whole line (time stamp and "\r\n" included); the text is
    // valid only during the call.
    using LogEventCallback = void (*)(const char* line);

    // A local calendar time: year (four digits), month 1-12, day 1-31,
    // hour 0-23, minute, second.
    struct LocalTime {
        int year = 0;
        int month = 0;
        int day = 0;
        int hour = 0;
        int minute = 0;
        int second = 0;
    };
    // Source of the current local time; called under the log's mutex, so it
    // must not log.
    using Clock = std::function<LocalTime()>;

    // Lines whose gathered text passes this many bytes are written at once.
    static constexpr std::size_t kSaveThreshold = 262144;
    // Size of the formatting buffer: formatted messages keep at most 1023 bytes.
    static constexpr std::size_t kFormatBuffer = 1024;

    // No path, nothing pending, no callback, the system's local time.
    CLog4c();
    // As above with a chosen clock (tests cross midnight with it).
    explicit CLog4c(Clock clock);
    // Copies path, pending text, callback and clock.
    CLog4c(const CLog4c& other);
    CLog4c& operator=(const CLog4c& other);
    // Writes what is still pending to the day's file.
    virtual ~CLog4c();

    // Sets the folder of the daily files; from now on saves go there.
    void InitInstance(const std::string& path);
    // Sets the live callback (null removes it). Without a log folder it logs a
    // warning at once, which the new callback shows.
    void RegLogEvent(LogEventCallback callback);
    // Logs one ready-made text.
    void LogEvent(const char* text);
    // Formats a message by printf rules (at most 1023 bytes, cut at a
    // character boundary), prefixes the level name (0 "INFOR", 1 "DEBUG",
    // any other "ERROR") and a blank, and logs it.
    void LogEvent(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Appends the pending text to today's file and empties it. Does nothing
    // without a log folder; when the file cannot be opened the text stays.
    void SaveToFile();

    // The system's local time now.
    static LocalTime SystemLocalTime();

private:
    void SaveLocked();
    // Has the day's file `fileName` open in fd_; false when it cannot be.
    bool OpenLocked(const std::string& fileName);
    void CloseLocked();
    void ReportError(const char* what) const noexcept;

    mutable std::mutex lock_;
    std::string logPath;
    std::string pending;
    std::atomic<LogEventCallback> logCallback{nullptr};
    Clock clock_;
    int fd_ = -1;            // the day's file, kept open between saves; never copied
    std::string fileName_;   // its name
};

} // namespace scrivlet
