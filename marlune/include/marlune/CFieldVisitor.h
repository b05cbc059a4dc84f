#pragma once

#include <string>
#include <vector>

namespace marlune {

class CTalker;
class CTalkerServer;

// Walks the fields of a message body in wire order. Each message class
// names its fields once (VisitBody); the codec reads and writes through this
// interface, so a class cannot disagree with itself between parse and build.
// Attributes (Text) come first, then the content (Content, Talker, Talkers,
// Server).
class CFieldVisitor {
public:
    virtual ~CFieldVisitor() = default;

    // One attribute of the body element.
    virtual void Text(const char* attribute, std::string& value) = 0;
    // The text content of the body element.
    virtual void Content(std::string& value) = 0;
    // The next `talker` element.
    virtual void Talker(CTalker& talker) = 0;
    // Every remaining `talker` element.
    virtual void Talkers(std::vector<CTalker>& talkers) = 0;
    // One `server` element with its `talker` children.
    virtual void Server(CTalkerServer& server) = 0;
};

} // namespace marlune
