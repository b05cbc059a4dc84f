#include "BodyReader.h"

#include "RecordFields.h"
#include "TextConverter.h"

#include <memory>
#include <utility>

namespace marlune {

void BodyReader::ReadHead(const tinyxml2::XMLElement& root, CMessageBase& head)
{
    for (const auto& field : kHeadFields) {
        Convert(root.Attribute(field.attribute), head.*field.member);
    }
    const tinyxml2::XMLElement* routed = root.FirstChildElement(kRoutedElement);
    if (routed == nullptr) {
        return;
    }
    for (const auto* entry = routed->FirstChildElement(); entry != nullptr;
         entry = entry->NextSiblingElement()) {
        CTalkerServer& server = head.routedServers.emplace_back();
        Convert(entry->Attribute(kRoutedNameAttribute), server.name);
    }
}

void BodyReader::Text(const char* attribute, std::string& value)
{
    Convert(body_ != nullptr ? body_->Attribute(attribute) : nullptr, value);
}

void BodyReader::Content(std::string& value)
{
    // The body's text is almost always one text node: it is converted where
    // it lies. Texts split by child elements are joined first.
    const tinyxml2::XMLText* single = nullptr;
    std::size_t texts = 0;
    if (body_ != nullptr) {
        for (const auto* node = body_->FirstChild(); node != nullptr; node = node->NextSibling()) {
            if (const tinyxml2::XMLText* text = node->ToText()) {
                single = text;
                ++texts;
            }
        }
    }
    if (texts <= 1) {
        Convert(single != nullptr ? single->Value() : "", value);
        return;
    }
    std::string utf8;
    for (const auto* node = body_->FirstChild(); node != nullptr; node = node->NextSibling()) {
        if (const tinyxml2::XMLText* text = node->ToText()) {
            utf8 += text->Value();
        }
    }
    Convert(utf8.c_str(), value);
}

void BodyReader::Talker(CTalker& talker)
{
    if (const tinyxml2::XMLElement* element = NextTalker()) {
        ReadTalker(*element, talker);
    }
}

void BodyReader::Talkers(std::vector<CTalker>& talkers)
{
    const tinyxml2::XMLElement* element = NextTalker();
    // Sized once: growing by doubling would hold up to three times the
    // records at the peak.
    talkers.reserve(talkers.size() + CountTalkers(element));
    for (; element != nullptr; element = NextTalker()) {
        ReadTalker(*element, talkers.emplace_back());
    }
}

void BodyReader::Server(CTalkerServer& server)
{
    const tinyxml2::XMLElement* element =
        body_ != nullptr ? body_->FirstChildElement(kServerElement) : nullptr;
    if (element == nullptr) {
        return;
    }
    for (const auto& field : kServerFields) {
        Convert(element->Attribute(field.attribute), server.*field.member);
    }
    const tinyxml2::XMLElement* first = element->FirstChildElement(kTalkerElement);
    server.Reserve(CountTalkers(first));
    for (const auto* child = first; child != nullptr; child = child->NextSiblingElement(kTalkerElement)) {
        CTalker talker;
        ReadTalker(*child, talker);
        server.AddTalker(std::move(talker));
    }
}

void BodyReader::Convert(const char* utf8, std::string& value)
{
    if (utf8 == nullptr) {
        value.clear();
        return;
    }
    if (!TextConverter::Utf8ToGbk(utf8, value)) {
        ok_ = false;
    }
}

std::size_t BodyReader::CountTalkers(const tinyxml2::XMLElement* from)
{
    std::size_t count = 0;
    for (; from != nullptr; from = from->NextSiblingElement(kTalkerElement)) {
        ++count;
    }
    return count;
}

const tinyxml2::XMLElement* BodyReader::NextTalker()
{
    if (body_ == nullptr || talkersDone_) {
        return nullptr;
    }
    lastTalker_ = lastTalker_ == nullptr ? body_->FirstChildElement(kTalkerElement)
                                         : lastTalker_->NextSiblingElement(kTalkerElement);
    talkersDone_ = lastTalker_ == nullptr;
    return lastTalker_;
}

void BodyReader::ReadTalker(const tinyxml2::XMLElement& element, CTalker& talker)
{
    for (const auto& field : kTalkerFields) {
        Convert(element.Attribute(field.attribute), talker.*field.member);
    }
}

} // namespace marlune
