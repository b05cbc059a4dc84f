#pragma once

namespace marlune {

// The fixed words messages carry in their result and flag fields; every
// side of the protocol (service, tools) compares and fills them from here.
namespace message_word {

// A request's result: granted, or refused with an error text beside it.
inline constexpr const char* kSuccess = "success";
inline constexpr const char* kFailed = "failed";
// A flag that is set (force, modify, online); anything else is not set.
inline constexpr const char* kTrue = "true";

} // namespace message_word

} // namespace marlune
