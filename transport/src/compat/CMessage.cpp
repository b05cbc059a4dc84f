#include "corvane/compat/CMessage.h"

namespace corvane {

CMessage::CMessage() = default;
CMessage::~CMessage() = default;

} // namespace corvane
