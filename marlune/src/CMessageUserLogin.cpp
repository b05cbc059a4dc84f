#include "marlune/CMessageUserLogin.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageUserLogin::CMessageUserLogin()
{
    type = kType;
}

void CMessageUserLogin::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("userid", userId);
    visitor.Text("password", password);
    visitor.Text("statu", statu);
    visitor.Text("client", client);
    visitor.Text("result", result);
    visitor.Text("error", error);
    visitor.Text("name", name);
    visitor.Text("sex", sex);
    visitor.Text("tel", tel);
    visitor.Text("force", force);
}

} // namespace marlune
