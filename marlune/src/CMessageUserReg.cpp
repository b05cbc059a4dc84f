#include "marlune/CMessageUserReg.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageUserReg::CMessageUserReg()
{
    type = kType;
}

void CMessageUserReg::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("userid", userId);
    visitor.Text("name", name);
    visitor.Text("sex", sex);
    visitor.Text("password", password);
    visitor.Text("tel", tel);
    visitor.Text("result", result);
    visitor.Text("error", error);
    visitor.Text("modify", modify);
}

} // namespace marlune
