#pragma once

#include "XmlWriter.h"

#include "marlune/CFieldVisitor.h"
#include "marlune/CMessageBase.h"

#include <string>
#include <string_view>

namespace marlune {

// Writes message fields (GBK in memory) as XML (UTF-8) through an
// XmlWriter: the head, the routed list and the body. A text that does not
// convert fails the whole build (ok() turns false).
// Not synchronised: one thread at a time may use an object.
class BodyWriter : public CFieldVisitor {
public:
    explicit BodyWriter(XmlWriter& writer) : writer_(writer) {}

    // The root element `msg` with the head attributes and the routed list;
    // the caller closes it.
    void OpenMessage(const CMessageBase& msg);

    void Text(const char* attribute, std::string& value) override;
    void Content(std::string& value) override;
    void Talker(CTalker& talker) override;
    void Talkers(std::vector<CTalker>& talkers) override;
    void Server(CTalkerServer& server) override;

    bool ok() const { return ok_; }

private:
    void Attribute(const char* name, std::string_view gbk);
    void WriteTalker(const CTalker& talker);

    XmlWriter& writer_;
    std::string scratch_;
    bool ok_ = true;
};

} // namespace marlune
