#include "marlune/CMessageChangeStatu.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageChangeStatu::CMessageChangeStatu()
{
    type = kType;
}

void CMessageChangeStatu::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("userid", userId);
    visitor.Text("server", server);
    visitor.Text("statu", statu);
    visitor.Text("note", note);
}

} // namespace marlune
