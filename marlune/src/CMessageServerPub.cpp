#include "marlune/CMessageServerPub.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageServerPub::CMessageServerPub()
{
    type = kType;
}

void CMessageServerPub::VisitBody(CFieldVisitor& visitor)
{
    visitor.Server(server);
}

} // namespace marlune
