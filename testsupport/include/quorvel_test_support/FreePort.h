#pragma once

namespace quorvel::testsupport {

// A socket listening on 127.0.0.1 at a free port that never accepts: the
// kernel completes a few connections on its own, enough for a peer that
// connects, sends a little and closes.
class ListeningSocket {
public:
    ListeningSocket();
    ~ListeningSocket();
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

    // 0 when no socket could be opened.
    unsigned Port() const { return port_; }

private:
    int fd_;
    unsigned port_ = 0;
};

// A port on 127.0.0.1 that was free a moment ago (bound to port 0, read back,
// released): an ephemeral port, above 2000; 0 when none could be bound.
unsigned FreePort();

// Makes `server` listen on a port FreePort found, trying again when another
// program took the port meanwhile; the port, 0 when none could be had.
// `server` is anything whose BeginListen(port) is true on success (a
// transport listening server); call this on the thread BeginListen wants.
template <class Server>
unsigned ListenOnFreePort(Server& server)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        const unsigned candidate = FreePort();
        if (candidate != 0 && server.BeginListen(candidate))
            return candidate;
    }
    return 0;
}

} // namespace quorvel::testsupport
