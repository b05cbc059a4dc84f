#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::soak {

// One plain TCP connection to 127.0.0.1 for hostile clients: blocking
// connect with a time limit, sends that give up after a second instead of
// blocking, reads that never wait.
//
// Thread: one owner thread.
class CRawConnection {
public:
    CRawConnection() = default;
    ~CRawConnection();
    CRawConnection(const CRawConnection&) = delete;
    CRawConnection& operator=(const CRawConnection&) = delete;

    // Connects to 127.0.0.1:port; `receiveBuffer` > 0 shrinks the socket's
    // receive buffer first (a slow reader); `from` names another loopback
    // address to connect from (an attacker of its own).
    bool Connect(int port, int receiveBuffer = 0, const char* from = nullptr);
    bool Open() const { return fd_ >= 0; }
    // Sends all of bytes; false when the peer closed or a send stalled.
    bool Send(std::string_view bytes);
    // Sends payload in one frame.
    bool SendFrame(std::string_view payload);
    // Sends the header of a frame of `length` bytes and only `sent` of them
    // (a frame that never ends); false when the peer closed or a send
    // stalled.
    bool SendPartOfFrame(std::uint32_t length, std::size_t sent);
    // Reads and throws away what has arrived; false once the peer closed.
    bool Drain();
    // Appends to `into` at most `limit` bytes of what has arrived, without
    // waiting; false once the peer closed.
    bool ReadSome(std::string& into, std::size_t limit);
    // Tells the peer nothing more will be sent (it sees the end of the
    // stream); reading goes on.
    void ShutdownWrite();
    // Closes; with `reset` the close is abortive (no TIME_WAIT left here).
    void Close(bool reset = false);

    // The 24-byte frame header for a payload of `length` bytes.
    static std::string Header(std::uint32_t length);

private:
    int fd_ = -1;
};

} // namespace quorvel::soak
