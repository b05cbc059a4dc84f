#pragma once

#include "corvane/CConnectionLimits.h"
#include "corvane/CMyRASSocket.h"

#include <cstddef>
#include <string>

namespace quorvel::service {

// Bounds the service keeps against careless or hostile clients. The field
// lengths are fixed: they follow the records the fields end up in. The
// counts come from section [LIMITS] of the settings file.
struct CServiceLimits {
    // Profile fields a registration or forced login may store, in bytes
    // (terminators not counted). A name must fit a connection's userName
    // field with its terminator; the others are generous for what they hold
    // and keep one user record, and so one list entry, small.
    static constexpr std::size_t kMaxNameBytes = sizeof corvane::CMyRASSocket::userName - 1;
    static constexpr std::size_t kMaxSexBytes = 16;
    static constexpr std::size_t kMaxTelBytes = 32;
    static constexpr std::size_t kMaxPasswordBytes = 64;
    // A status longer than this is cut at a character boundary.
    static constexpr std::size_t kMaxStatuBytes = 64;
    // The bytes of user records one list answer may carry, counted before
    // conversion and escaping; the built message stays far below the
    // transport's 16 MiB per-connection queue even when every byte grows.
    static constexpr std::size_t kMaxListAnswerBytes = std::size_t{2} << 20;

    static constexpr std::size_t kDefaultMaxListAnswerUsers = 2000;
    static constexpr std::size_t kDefaultMaxFriends = 1000;
    static constexpr std::size_t kDefaultMaxConnectionsPerUser = 16;
    static constexpr std::size_t kDefaultMaxNeighbors = 16;
    static constexpr std::size_t kDefaultMaxAnnouncedUsers = 10000;
    static constexpr std::size_t kDefaultCostlyRequestsPerConnection = 120;
    static constexpr std::size_t kDefaultCostlyRequestsPerAddress = 1200;

    // Users one list answer carries at most ([LIMITS] MaxListAnswerUsers).
    std::size_t maxListAnswerUsers = kDefaultMaxListAnswerUsers;
    // Friends one user may have ([LIMITS] MaxFriends).
    std::size_t maxFriends = kDefaultMaxFriends;
    // Connections one user may be logged in on at once ([LIMITS]
    // MaxConnectionsPerUser); a further login is refused.
    std::size_t maxConnectionsPerUser = kDefaultMaxConnectionsPerUser;
    // The listening server's bounds on its connections ([LIMITS]
    // BufferBudgetBytes, MaxConnectionsPerAddress, LoginTimeoutSeconds,
    // FramesPerTurn).
    corvane::CConnectionLimits connections;
    // Neighbour servers kept at most ([LIMITS] MaxNeighbors): an
    // announcement of a new name beyond them is refused; known names are
    // still replaced.
    std::size_t maxNeighbors = kDefaultMaxNeighbors;
    // Users kept of one announcement ([LIMITS] MaxAnnouncedUsers): the
    // first ones in announced order.
    std::size_t maxAnnouncedUsers = kDefaultMaxAnnouncedUsers;
    // Costly requests (registrations and profile changes, announcements,
    // list and profile queries) one connection, and one peer address, may
    // make a minute on average, a minute's worth at once ([LIMITS]
    // CostlyRequestsPerConnection, CostlyRequestsPerAddress). Beyond them a
    // request is dropped.
    std::size_t costlyRequestsPerConnection = kDefaultCostlyRequestsPerConnection;
    std::size_t costlyRequestsPerAddress = kDefaultCostlyRequestsPerAddress;

    // Whether name, sex, phone and password fit their lengths. Any thread.
    static bool ProfileFits(const std::string& name, const std::string& sex, const std::string& tel,
                            const std::string& password);
    // statu cut to kMaxStatuBytes, never inside a GBK character. Any thread.
    static void CutStatu(std::string& statu);
};

} // namespace quorvel::service
