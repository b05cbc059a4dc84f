#pragma once

#include "corvane/CLogThrottle.h"
#include "corvane/CMyRASSocket.h"
#include "corvane/Callbacks.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class CEventLoop;
class CMyRASSocket;

// Base of the two endpoints (CMyRASServer_Srv, CMyRASServer_Client): the
// string and log callbacks, level-prefixed logging, the send path in its two
// modes (immediate, or through the process-wide send queue and its thread)
// and the staging stream of ReceivedString.
//
// Threads: an endpoint belongs to the loop that was current on the thread
// that constructed it (see CEventLoop); it is constructed, configured and
// destroyed there, and its notifications and string callback run there.
// SendBuff, LogEvent and OnLogEvent may be called from any thread.
class CMyRASServer {
public:
    CMyRASServer();
    // Stops (and waits for) the send thread if this endpoint started it.
    // Queued entries of other connections stay in the process-wide queue.
    virtual ~CMyRASServer();
    CMyRASServer(const CMyRASServer&) = delete;
    CMyRASServer& operator=(const CMyRASServer&) = delete;

    // A new connection object for an incoming connection, owned by the
    // caller; the base returns null. Loop thread.
    virtual CMyRASSocket* CreateClientSocket();
    // Takes an accepted connection; non-zero means the endpoint kept (and
    // now owns) it, 0 that the caller still owns it. The base returns 0.
    // Loop thread.
    virtual int AddNewClientSocket(CMyRASSocket* socket);
    // A connection's peer closed (called by the connection). Loop thread.
    virtual void OnSocketClosed(CMyRASSocket* socket) = 0;

    // Replaces the string callback (null switches delivery off). Loop thread,
    // before the endpoint opens its socket.
    void RegCallBackOnSckString(RAS_STRING_CALLBACK callback);
    // Replaces the log callback. Before the endpoint opens its socket.
    void SetLogEvent(RAS_LOG_CALLBACK callback);
    // Replaces the limit callback (null: none). Before the endpoint opens
    // its socket.
    void RegCallBackOnLimit(RAS_LIMIT_CALLBACK callback);
    // The log callback in use (null when none), e.g. for an endpoint made
    // on behalf of this one that should log to the same place. Any thread.
    RAS_LOG_CALLBACK GetLogEvent() const { return logCallback_.load(); }
    // Passes text unchanged to the log callback, if any. Any thread.
    void OnLogEvent(const char* text) const;
    // printf-formats into 1024 bytes (longer texts are cut), prefixes the
    // level name (0 "INFOR", 1 "DEBUG", others "ERROR") and a blank, and
    // passes the line to OnLogEvent. Any thread.
    void LogEvent(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // A bound bit under load: passes it to the limit callback, and the line
    // to LogEvent at most once a minute for each bound and remote address
    // (CLogThrottle). Loop thread.
    void LogLimit(RAS_LIMIT limit, int level, const std::string& address, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    // Sends length bytes at data as one frame on socket. Immediate mode
    // (useSendQueue 0): 1 when the whole frame was written or queued on the
    // connection, else 0 (missing or inactive connection, queue full, socket
    // error). Queue mode: copies the payload into the process-wide queue and
    // returns 1. The data is copied; the caller keeps its buffer. Any thread
    // (a connection taken from CMyRASServer_Srv::connections must be used
    // under its connections lock, or on the loop thread).
    int SendBuff(CMyRASSocket* socket, const void* data, std::uint32_t length);
    // SendBuff with a receipt: when the result is 1, `done` runs once on the
    // connection's loop thread, true when the frame's last byte was written
    // to the socket, false when the connection closed or was destroyed
    // before that (not at all if the loop itself is destroyed first). When
    // the result is 0, `done` never runs. Any thread, as SendBuff.
    int SendBuff(CMyRASSocket* socket, const void* data, std::uint32_t length, std::function<void(bool)> done);
    // SendBuff of bytes other connections may be sent too (a message for
    // every connection of a user): immediate mode queues a large payload by
    // reference instead of copying it for each connection; queue mode copies
    // it. `done` (may be empty) as above. Any thread, as SendBuff.
    int SendShared(CMyRASSocket* socket, const CMyRASSocket::SharedBytes& payload,
                   std::function<void(bool)> done = {});

    // With useSendQueue set, starts the process-wide send thread (nice
    // 10). The process runs at most one: nothing happens while one
    // runs. Loop thread.
    void StartSendThread();

    // Appends length bytes to the staging stream; with last non-zero hands
    // the whole staged content to the string callback with socket and empties
    // the stream. Loop thread.
    void ReceivedString(const std::uint8_t* data, std::uint32_t length, int last, CMyRASSocket* socket);

    // The loop this endpoint delivers its notifications on. Any thread.
    CEventLoop& Loop() const { return *loop_; }

protected:
    // Reads one value of an INI file: trimmed, at most 259 characters,
    // `defaultValue` when the file, section or key is missing (section and
    // key names compare case-insensitively).
    std::string ReadStrFromProFile(const std::string& file, const std::string& section, const std::string& key,
                                   const std::string& defaultValue) const;

    // printf-formats like LogEvent but passes the line without a level name.
    void LogLine(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Passes the exception's text, cut as every error text is (ErrorText),
    // to the log callback unprefixed.
    void LogException(const std::exception& error) const;
    // True when a string callback is registered.
    bool HasStringCallback() const { return stringCallback_ != nullptr; }

    // Pumps the private loop (if the endpoint has one) on the calling thread.
    void PumpPrivateLoop();

    // Queued sending switch; set by a derived class before StartSendThread.
    int useSendQueue = 0;
    // Port of the endpoint; BeginListen stores its argument here.
    int port = 8801;

private:
    // Sends shared when not null, else the length bytes at data.
    int TestChunk(CMyRASSocket* socket, const void* data, std::uint32_t length,
                  const CMyRASSocket::SharedBytes* shared, std::function<void(bool)>* done);
    void StopService();
    void ThrHandleMessageQueue();

    void Deliver(const std::uint8_t* data, std::uint32_t length, CMyRASSocket* socket);

    std::atomic<RAS_LOG_CALLBACK> logCallback_{nullptr};
    RAS_LIMIT_CALLBACK limitCallback_ = nullptr;
    mutable CLogThrottle limitLog_;
    RAS_STRING_CALLBACK stringCallback_ = nullptr;
    std::vector<std::uint8_t> stage_;
    bool sendThreadOwner_ = false;
    std::unique_ptr<CEventLoop> privateLoop_;
    CEventLoop* loop_ = nullptr;
};

} // namespace corvane
