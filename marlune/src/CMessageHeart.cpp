#include "marlune/CMessageHeart.h"

#include "marlune/CFieldVisitor.h"

CMessageHeart::CMessageHeart()
{
    type = kType;
}

void CMessageHeart::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("sender", sender);
}
