#include "BodyWriter.h"

#include "RecordFields.h"
#include "TextConverter.h"

namespace marlune {

void BodyWriter::OpenMessage(const CMessageBase& msg)
{
    writer_.Open(kRootElement);
    for (const auto& field : kHeadFields) {
        Attribute(field.attribute, msg.*field.member);
    }
    if (!msg.routedServers.empty()) {
        writer_.Open(kRoutedElement);
        for (const CTalkerServer& server : msg.routedServers) {
            writer_.Open(kServerElement);
            Attribute(kRoutedNameAttribute, server.name);
            writer_.Close();
        }
        writer_.Close();
    }
}

void BodyWriter::Text(const char* attribute, std::string& value)
{
    Attribute(attribute, value);
}

void BodyWriter::Content(std::string& value)
{
    if (!TextConverter::GbkToUtf8(value, scratch_)) {
        ok_ = false;
    }
    writer_.Text(scratch_);
}

void BodyWriter::Talker(CTalker& talker)
{
    WriteTalker(talker);
}

void BodyWriter::Talkers(std::vector<CTalker>& talkers)
{
    for (const CTalker& talker : talkers) {
        WriteTalker(talker);
    }
}

void BodyWriter::Server(CTalkerServer& server)
{
    writer_.Open(kServerElement);
    for (const auto& field : kServerFields) {
        Attribute(field.attribute, server.*field.member);
    }
    for (const auto& talker : server.Talkers()) {
        WriteTalker(*talker);
    }
    writer_.Close();
}

void BodyWriter::Attribute(const char* name, std::string_view gbk)
{
    if (!TextConverter::GbkToUtf8(gbk, scratch_)) {
        ok_ = false;
    }
    writer_.Attribute(name, scratch_);
}

void BodyWriter::WriteTalker(const CTalker& talker)
{
    writer_.Open(kTalkerElement);
    for (const auto& field : kTalkerFields) {
        Attribute(field.attribute, talker.*field.member);
    }
    writer_.Close();
}

} // namespace marlune
