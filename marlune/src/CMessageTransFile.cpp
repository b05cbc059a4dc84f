#include "marlune/CMessageTransFile.h"

#include "marlune/CFieldVisitor.h"

namespace marlune {

CMessageTransFile::CMessageTransFile()
{
    type = kType;
}

void CMessageTransFile::VisitBody(CFieldVisitor& visitor)
{
    visitor.Text("file", file);
    visitor.Text("size", size);
    visitor.Text("offset", offset);
    visitor.Text("action", action);
    visitor.Content(data);
}

} // namespace marlune
