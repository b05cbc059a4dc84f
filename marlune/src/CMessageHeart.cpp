#include "marlune/CMessageHeart.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageHeart::CMessageHeart()
{
    type = kType;
}

void CMessageHeart::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("sender", sender);
}

} // namespace marlune
