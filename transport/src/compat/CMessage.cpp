#include "corvane/compat/CMessage.h"

CMessage::CMessage() = default;
CMessage::~CMessage() = default;
