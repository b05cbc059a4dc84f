#include "quorvel_service/CUserSender.h"

#include "corvane/CMyRASSocket.h"

#include <cstring>

namespace quorvel::service {

using corvane::CMyRASSocket;

std::string CUserSender::BoundUserId(const CMyRASSocket& socket)
{
    return std::string(socket.userId, strnlen(socket.userId, sizeof socket.userId));
}

bool CUserSender::IsBoundTo(const CMyRASSocket& socket, std::string_view userId)
{
    return userId.size() < sizeof socket.userId && strnlen(socket.userId, userId.size() + 1) == userId.size() &&
           std::memcmp(socket.userId, userId.data(), userId.size()) == 0;
}

} // namespace quorvel::service
