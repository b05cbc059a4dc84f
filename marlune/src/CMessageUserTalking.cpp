#include "marlune/CMessageUserTalking.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageUserTalking::CMessageUserTalking()
{
    type = kType;
}

void CMessageUserTalking::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("format", format);
    visitor.Content(text);
}

} // namespace marlune
