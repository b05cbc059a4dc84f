#pragma once

#include "corvane/CFrame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::testsupport {

// How a RawConnection connects.
struct RawConnectionOptions {
    // > 0: the socket's receive buffer is shrunk to this first (a slow
    // reader, whose kernel holds little of what it has not read).
    int receiveBuffer = 0;
    // Another loopback address to connect from (a client of its own).
    const char* from = nullptr;
    // A connect or a send that makes no progress this long fails.
    std::chrono::milliseconds stall = std::chrono::seconds(5);
};

// A plain TCP connection to 127.0.0.1 that sends whatever bytes it is given,
// well-formed frames or not: a client driven by hand, or a hostile one.
// Connects and sends give up once they make no progress for a while, so a
// peer that stops reading never hangs the caller; reads either wait within
// a limit of their own or not at all. Bytes read by the waiting reads stay
// buffered across calls, so a frame cut by a time limit is completed by the
// next call instead of corrupting the stream.
//
// Thread: one owner thread.
class RawConnection {
public:
    using Options = RawConnectionOptions;

    RawConnection() = default;
    // Connects at once; Open() tells whether that worked.
    explicit RawConnection(unsigned port, const Options& options = {}) { Connect(port, options); }
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Connects to 127.0.0.1:port, closing what was open before.
    bool Connect(unsigned port, const Options& options = {});
    bool Open() const { return fd_ >= 0; }

    // Sends all of bytes; false when the peer closed or a send stalled.
    bool Send(std::string_view bytes);
    // Sends payload in one frame.
    bool SendFrame(std::string_view payload);
    // Sends the header of a frame of `length` bytes and only `sent` of them
    // (a frame that never ends).
    bool SendPartOfFrame(std::uint32_t length, std::size_t sent);

    // The payload of the next whole frame; nullopt when none completes
    // within `limit` or the peer closed.
    std::optional<std::string> ReceiveFrame(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Exactly the next n bytes; empty when they do not arrive within `limit`.
    std::string Read(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // True when the peer sends anything (or closes) within `limit`.
    bool ReadableWithin(std::chrono::milliseconds limit);
    // True when the peer closes the connection within `limit`; what it sends
    // meanwhile is read, dropped and, with `received`, counted there.
    bool ClosedByPeerWithin(std::chrono::milliseconds limit = std::chrono::seconds(5),
                            std::size_t* received = nullptr);
    // Bytes arrived and not read yet.
    std::size_t Unread() const;

    // Reads and drops what has arrived, without waiting; false once the
    // peer closed.
    bool Drain();
    // Appends to `into` at most `limit` bytes of what has arrived, without
    // waiting; false once the peer closed.
    bool ReadSome(std::string& into, std::size_t limit);

    // Tells the peer nothing more will be sent (it sees the end of the
    // stream); reading goes on.
    void ShutdownWrite();
    // Closes; with `reset` the close is abortive (no TIME_WAIT left here).
    void Close(bool reset = false);

    // The 24-byte header of a frame of `length` payload bytes; `flag` in
    // place of the proper one makes a broken header.
    static std::string Header(std::uint32_t length, std::string_view flag = corvane::CFrame::kFlag);
    // A well-formed frame around payload.
    static std::string Frame(std::string_view payload);

private:
    // Reads until `size` bytes are buffered; false when the deadline passes
    // or the peer closes first.
    bool Buffer(std::size_t size, std::chrono::steady_clock::time_point deadline);
    // Takes the first n buffered bytes.
    std::string Take(std::size_t n);

    int fd_ = -1;
    std::string received_;
};

} // namespace quorvel::testsupport
