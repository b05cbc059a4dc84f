#include "corvane/CMessage.h"

CMessage::CMessage() = default;
CMessage::~CMessage() = default;
