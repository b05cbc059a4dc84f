#include "marlune/CMessageUserFriend.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageUserFriend::CMessageUserFriend()
{
    type = kType;
}

void CMessageUserFriend::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("result", result);
    visitor.Text("text", text);
    visitor.Talker(asker);
    visitor.Talker(asked);
}

} // namespace marlune
