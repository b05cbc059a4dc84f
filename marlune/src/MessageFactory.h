#pragma once

#include "marlune/CMessageBase.h"

#include <memory>
#include <string_view>

namespace marlune {

// Makes the message object for a type name; null for a name the library
// does not know. Any thread. May throw std::bad_alloc.
std::unique_ptr<CMessageBase> CreateMessage(std::string_view type);

} // namespace marlune
