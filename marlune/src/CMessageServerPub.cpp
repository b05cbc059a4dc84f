#include "marlune/CMessageServerPub.h"

#include "marlune/CFieldVisitor.h"

CMessageServerPub::CMessageServerPub()
{
    type = kType;
}

void CMessageServerPub::VisitBody(CFieldVisitor& visitor)
{
    visitor.Server(server);
}
