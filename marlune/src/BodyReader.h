#pragma once

#include "marlune/CFieldVisitor.h"

#include <tinyxml2.h>

#include <cstddef>
#include <string>

namespace marlune {

class CMessageBase;

// Reads message fields from a parsed document into objects, converting
// UTF-8 to GBK. Missing attributes and elements read as empty; unknown ones
// are ignored. A value that does not convert fails the whole parse (ok()
// turns false).
// Not synchronised: one thread at a time may use an object.
class BodyReader : public CFieldVisitor {
public:
    // `body` may be null: every field then reads as empty.
    explicit BodyReader(const tinyxml2::XMLElement* body) : body_(body) {}

    // The head attributes and the routed list of the root element.
    void ReadHead(const tinyxml2::XMLElement& root, CMessageBase& head);

    void Text(const char* attribute, std::string& value) override;
    void Content(std::string& value) override;
    void Talker(CTalker& talker) override;
    void Talkers(std::vector<CTalker>& talkers) override;
    void Server(CTalkerServer& server) override;

    bool ok() const { return ok_; }

private:
    void Convert(const char* utf8, std::string& value);
    static std::size_t CountTalkers(const tinyxml2::XMLElement* from);
    const tinyxml2::XMLElement* NextTalker();
    void ReadTalker(const tinyxml2::XMLElement& element, CTalker& talker);

    const tinyxml2::XMLElement* body_;
    const tinyxml2::XMLElement* lastTalker_ = nullptr;   // the talker read last
    bool talkersDone_ = false;
    bool ok_ = true;
};

} // namespace marlune
