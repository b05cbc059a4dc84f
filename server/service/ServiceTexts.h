#pragma once

// Texts the message service's handlers share: result and flag values carried
// in messages, the refusal text for special characters in a user id, and
// what log lines print in place of a password.
namespace service_text {

inline constexpr const char* kSuccess = "success";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kTrue = "true";
inline constexpr const char* kMaskedPassword = "******";
// An id or name too long for a connection's fields: such a user could never
// be bound to a connection, so logins and registrations refuse it.
inline constexpr const char* kTooLongError = "用户账号或姓名太长!";
inline constexpr const char* kBadCharsError = "用户账号不能包含 ' ~ ! # $ % ^ & *'等特殊字符!";

} // namespace service_text
