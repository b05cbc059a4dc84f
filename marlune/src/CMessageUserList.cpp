#include "marlune/CMessageUserList.h"

#include "marlune/CFieldVisitor.h"

#include <exception>

namespace marlune {

CMessageUserList::CMessageUserList()
{
    type = kType;
}

void CMessageUserList::AddTalker(const CTalker& talker)
{
    try {
        talkers.push_back(talker);
    } catch (const std::exception&) {
        // Out of memory: the reply goes out without this record.
    }
}

void CMessageUserList::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("userid", userId);
    visitor.Text("count", count);
    visitor.Text("filter", filter);
    visitor.Text("online", online);
    visitor.Talkers(talkers);
}

} // namespace marlune
