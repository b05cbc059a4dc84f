#include "DocWriter.h"

namespace marlune {

bool DocWriter::VisitEnter(const tinyxml2::XMLElement& element, const tinyxml2::XMLAttribute* first)
{
    writer_.Open(element.Name());
    for (const auto* attribute = first; attribute != nullptr; attribute = attribute->Next()) {
        writer_.Attribute(attribute->Name(), attribute->Value());
    }
    return true;
}

bool DocWriter::VisitExit(const tinyxml2::XMLElement& /*element*/)
{
    writer_.Close();
    return true;
}

bool DocWriter::Visit(const tinyxml2::XMLText& text)
{
    writer_.Text(text.Value());
    return true;
}

} // namespace marlune
