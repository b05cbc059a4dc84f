#pragma once

// Texts the message service's handlers share: result and flag values carried
// in messages, the refusal text for special characters in a user id, and
// what log lines print in place of a password.
namespace service_text {

inline constexpr const char* kSuccess = "success";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kTrue = "true";
inline constexpr const char* kMaskedPassword = "******";
inline constexpr const char* kBadCharsError = "用户账号不能包含 ' ~ ! # $ % ^ & *'等特殊字符!";

} // namespace service_text
