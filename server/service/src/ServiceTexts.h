#pragma once

namespace quorvel::service {

// Texts the message service's handlers share: the refusal texts for
// unusable user ids, and what log lines print in place of a password. (The
// result and flag words of messages are marlune's, MessageWords.h.)
namespace service_text {

inline constexpr const char* kMaskedPassword = "******";
// An id too long for the message store or a name too long for a
// connection's field: such a user could log in but never receive a stored
// message, so logins and registrations refuse it.
inline constexpr const char* kTooLongError = "用户账号或姓名太长!";
// A name, sex, phone or password longer than the service keeps
// (CServiceLimits): registrations and forced logins refuse it.
inline constexpr const char* kProfileTooLongError = "用户资料太长!";
// Also the refusal of "/", the separator of friend lists.
inline constexpr const char* kBadCharsError = "用户账号不能包含 ' ~ ! # $ % ^ & *'等特殊字符!";
// A login past the connections one user may hold at once
// (CServiceLimits::maxConnectionsPerUser).
inline constexpr const char* kTooManyConnectionsError = "该用户连接数已达上限!";
// An empty id names nobody in an address or a friend list.
inline constexpr const char* kEmptyIdError = "用户账号不能为空!";

} // namespace service_text

} // namespace quorvel::service
