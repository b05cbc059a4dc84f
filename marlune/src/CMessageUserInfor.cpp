#include "marlune/CMessageUserInfor.h"

#include "marlune/CFieldVisitor.h"

#include <exception>

namespace marlune {

CMessageUserInfor::CMessageUserInfor()
{
    type = kType;
}

void CMessageUserInfor::AddTalker(const CTalker& talker)
{
    try {
        talkers.push_back(talker);
    } catch (const std::exception&) {
        // Out of memory: the reply goes out without this record.
    }
}

void CMessageUserInfor::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("user", user);
    visitor.Text("name", name);
    visitor.Text("sex", sex);
    visitor.Text("tel", tel);
    visitor.Text("password", password);
    visitor.Text("face", face);
    visitor.Text("server", server);
    visitor.Text("statu", statu);
    visitor.Talkers(talkers);
}

} // namespace marlune
