#pragma once

#include <string>

namespace marlune {
class CMessageBase;
}

namespace quorvel::soak {

// The payload of `message` as the message library builds it.
std::string BuildXml(marlune::CMessageBase& message);

// A login of `user` with `password`, status `statu`, forced or not.
std::string LoginXml(const std::string& user, const std::string& password, const std::string& statu, bool force);

// A heartbeat.
std::string HeartXml();

} // namespace quorvel::soak
