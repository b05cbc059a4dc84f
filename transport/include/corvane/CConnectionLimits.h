#pragma once

#include <chrono>
#include <cstddef>

namespace corvane {

// Bounds a listening endpoint keeps against hostile load on its accepted
// connections. The defaults are generous: a well-behaved client never meets
// them. A value of 0 switches a bound off.
struct CConnectionLimits {
    static constexpr std::size_t kDefaultBufferBudgetBytes = std::size_t{256} << 20;
    static constexpr std::size_t kDefaultMaxConnectionsPerAddress = 256;
    static constexpr std::chrono::seconds kDefaultLoginTimeout{300};
    static constexpr std::size_t kDefaultFramesPerTurn = 32;

    // Received bytes not yet consumed and accepted bytes not yet written,
    // summed over all connections. Past it the connections holding the most
    // are closed until the rest fits.
    std::size_t bufferBudgetBytes = kDefaultBufferBudgetBytes;
    // Open connections from one remote address; a further one is closed at
    // accept.
    std::size_t maxConnectionsPerAddress = kDefaultMaxConnectionsPerAddress;
    // A connection neither bound to a user (userId) nor admitted by the
    // program (CMyRASSocket::MarkAdmitted) this long after its accept is
    // closed.
    std::chrono::seconds loginTimeout = kDefaultLoginTimeout;
    // Frames one connection delivers in one turn of the loop; the rest wait
    // until the loop has served the others.
    std::size_t framesPerTurn = kDefaultFramesPerTurn;
};

} // namespace corvane
