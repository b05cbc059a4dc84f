#pragma once

#include "XmlWriter.h"

#include <tinyxml2.h>

namespace marlune {

// Feeds a TinyXML-2 document's elements and texts to an XmlWriter, so that
// documents come out in the same form as messages. Declarations, comments
// and unknown nodes are left out.
// Not synchronised: one thread at a time may use an object.
class DocWriter : public tinyxml2::XMLVisitor {
public:
    explicit DocWriter(XmlWriter& writer) : writer_(writer) {}

    bool VisitEnter(const tinyxml2::XMLElement& element,
                    const tinyxml2::XMLAttribute* first) override;
    bool VisitExit(const tinyxml2::XMLElement& element) override;
    bool Visit(const tinyxml2::XMLText& text) override;

private:
    XmlWriter& writer_;
};

} // namespace marlune
