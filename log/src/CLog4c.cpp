#include "scrivlet/CLog4c.h"

#include "scrivlet/GbkText.h"
#include "scrivlet/LogText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string_view>
#include <utility>

namespace scrivlet {

namespace {

bool SameSecond(const CLog4c::LocalTime& a, const CLog4c::LocalTime& b)
{
    return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
           a.month == b.month && a.year == b.year;
}

// The line's time stamp: formatted once a second, not once a line.
const std::string& Stamp(const CLog4c::LocalTime& t)
{
    thread_local CLog4c::LocalTime last{-1, 0, 0, 0, 0, 0};
    thread_local std::string stamp;
    if (!SameSecond(t, last)) {
        char text[64];
        std::snprintf(text, sizeof text, "[%d-%02d-%02d %02d:%02d:%02d] ", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        stamp = text;
        last = t;
    }
    return stamp;
}

void BuildLine(std::string& line, const CLog4c::LocalTime& t, const char* text)
{
    line.clear();
    line += Stamp(t);
    // Texts carry fields that came from the network: escaping their control
    // characters keeps every log line one line and keeps terminals inert.
    AppendEscapingControls(line, text);
    line += "\r\n";
}

// The buffer a thread builds its lines in, so a line costs no allocation.
// A callback that logs gets a buffer of its own (depth > 0): the outer
// line is still being shown from the thread's buffer.
class LineBuffer {
public:
    // A thread keeps at most this much room between lines.
    static constexpr std::size_t kKeptRoom = 16384;

    LineBuffer() : nested_(depth_++ > 0) {}
    ~LineBuffer()
    {
        --depth_;
        if (!nested_ && shared_.capacity() > kKeptRoom)
            std::string().swap(shared_);
    }
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    std::string& Text() { return nested_ ? own_ : shared_; }

private:
    static thread_local std::string shared_;
    static thread_local int depth_;
    const bool nested_;
    std::string own_;
};

thread_local std::string LineBuffer::shared_;
thread_local int LineBuffer::depth_ = 0;

// Writes all of `data` to `fd`; a failed write loses the rest.
void WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

CLog4c::CLog4c() : CLog4c(Clock(&CLog4c::SystemLocalTime)) {}

CLog4c::CLog4c(Clock clock) : clock_(std::move(clock)) {}

CLog4c::CLog4c(const CLog4c& other)
{
    std::lock_guard<std::mutex> guard(other.lock_);
    logPath = other.logPath;
    pending = other.pending;
    logCallback = other.logCallback.load();
    clock_ = other.clock_;
}

CLog4c& CLog4c::operator=(const CLog4c& other)
{
    if (this == &other)
        return *this;
    std::scoped_lock guard(lock_, other.lock_);
    CloseLocked();
    logPath = other.logPath;
    pending = other.pending;
    logCallback = other.logCallback.load();
    clock_ = other.clock_;
    return *this;
}

CLog4c::~CLog4c()
{
    SaveToFile();
    CloseLocked();
}

void CLog4c::InitInstance(const std::string& path)
{
    std::lock_guard<std::mutex> guard(lock_);
    logPath = path;
}

void CLog4c::RegLogEvent(LogEventCallback callback)
{
    logCallback = callback;
    bool noPath;
    {
        std::lock_guard<std::mutex> guard(lock_);
        noPath = logPath.empty();
    }
    if (noPath)
        LogEvent("log4c 类管理器未指定日志文件保存路径,将不会保存日志文件!");
}

void CLog4c::LogEvent(const char* text)
{
    try {
        LineBuffer buffer;
        std::string& line = buffer.Text();
        {
            std::lock_guard<std::mutex> guard(lock_);
            BuildLine(line, clock_(), text ? text : "");
            pending += line;
            if (pending.size() > kSaveThreshold) {
                SaveLocked();
                pending.clear();
            }
        }
        if (LogEventCallback callback = logCallback.load())
            callback(line.c_str());
    } catch (const std::exception& e) {
        ReportError(e.what());
    } catch (...) {
        ReportError("unknown exception");
    }
}

void CLog4c::LogEvent(int level, const char* format, ...)
{
    try {
        // The level name and the message are formatted once, into one buffer.
        constexpr std::size_t kPrefix = 6;   // "INFOR ", "DEBUG ", "ERROR "
        char buffer[kPrefix + kFormatBuffer];
        std::memcpy(buffer, LogLevelName(level), kPrefix - 1);
        buffer[kPrefix - 1] = ' ';
        va_list args;
        va_start(args, format);
        FormatText(buffer + kPrefix, kFormatBuffer, format, args);
        va_end(args);
        LogEvent(buffer);
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
}

void CLog4c::SaveToFile()
{
    try {
        std::lock_guard<std::mutex> guard(lock_);
        SaveLocked();
    } catch (...) {
        // Saving is silent: the log has nowhere to report its own failure.
    }
}

void CLog4c::SaveLocked()
{
    if (logPath.empty() || pending.empty())
        return;
    LocalTime t = clock_();
    char name[32];
    std::snprintf(name, sizeof name, "/%d-%02d-%02d.txt", t.year, t.month, t.day);
    if (!OpenLocked(logPath + name))
        return;
    WriteAll(fd_, pending);
    pending.clear();
}

bool CLog4c::OpenLocked(const std::string& fileName)
{
    // The day's file stays open between saves: opening and closing it for
    // every save cost the saving thread file-system waits of milliseconds.
    // A file removed meanwhile is created again.
    struct stat st {};
    if (fd_ >= 0 && fileName == fileName_ && ::fstat(fd_, &st) == 0 && st.st_nlink > 0)
        return true;
    CloseLocked();
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return false;
    fileName_ = fileName;
    return true;
}

void CLog4c::CloseLocked()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    fileName_.clear();
}

void CLog4c::ReportError(const char* what) const noexcept
{
    LogEventCallback callback = logCallback.load();
    if (!callback)
        return;
    try {
        callback(ErrorText(what ? what : "").c_str());
    } catch (...) {
        // A callback that throws while reporting an error has no one left to tell.
    }
}

CLog4c::LocalTime CLog4c::SystemLocalTime()
{
    // The calendar conversion (a lock and the zone rules) runs once a second,
    // not once a line.
    thread_local std::time_t lastSecond = -1;
    thread_local LocalTime last;
    const std::time_t now = std::time(nullptr);
    if (now != lastSecond) {
        std::tm tm{};
        localtime_r(&now, &tm);
        last = LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
        lastSecond = now;
    }
    return last;
}

} // namespace scrivlet
