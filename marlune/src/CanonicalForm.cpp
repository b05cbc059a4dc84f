#include "CanonicalForm.h"

#include "MessageFactory.h"
#include "RecordFields.h"
#include "TextConverter.h"

#include "marlune/CFieldVisitor.h"

#include <algorithm>
#include <array>

namespace marlune {

namespace {

// The fixed pieces of the layout (XmlWriter: one element a line, two
// blanks of indent a level, text content right after its start tag).
constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kRootStart = "<msg";
constexpr std::string_view kHeadEnd = ">\n";
constexpr std::string_view kRoutedStart = "  <routed>\n";
constexpr std::string_view kRoutedEntryStart = "    <server";
constexpr std::string_view kRoutedEntryEnd = "/>\n";
constexpr std::string_view kRoutedEnd = "  </routed>\n";
constexpr std::string_view kBodyStart = "  <body";
constexpr std::string_view kBodyEnd = "</body>";
constexpr std::string_view kEmptyEnd = "/>";
constexpr std::string_view kRootEnd = "\n</msg>\n";

// The bytes XmlWriter writes as they are in an attribute value; it writes
// every other byte as an entity or a character reference, and those are
// left to the general parser.
constexpr std::array<bool, 256> AttributeBytes()
{
    std::array<bool, 256> plain{};
    for (unsigned c = 0; c < 256; ++c)
        plain[c] = c >= 0x20 && c != 0x7F && c != '&' && c != '<' && c != '>' && c != '"';
    return plain;
}

// In a text, quotes, tabs and line feeds stand for themselves too.
constexpr std::array<bool, 256> TextBytes()
{
    std::array<bool, 256> plain = AttributeBytes();
    plain['"'] = plain['\t'] = plain['\n'] = true;
    return plain;
}

constexpr std::array<bool, 256> kAttributeBytes = AttributeBytes();
constexpr std::array<bool, 256> kTextBytes = TextBytes();

bool AllOf(std::string_view text, const std::array<bool, 256>& allowed)
{
    return std::all_of(text.begin(), text.end(),
                       [&](char c) { return allowed[static_cast<unsigned char>(c)]; });
}

bool OnlyBlanks(std::string_view text)
{
    return text.find_first_not_of(" \t\n\r") == std::string_view::npos;
}

// Walks a payload through the layout, reading each value as it comes.
// Any difference from the layout fails the whole read (ok() turns false).
class Reader : public CFieldVisitor {
public:
    explicit Reader(std::string_view xml) : xml_(xml) {}

    bool ok() const { return ok_; }
    bool AtEnd() const { return ok_ && pos_ == xml_.size(); }

    // Consumes `literal`, which must come next.
    void Expect(std::string_view literal)
    {
        if (!Next(literal))
            ok_ = false;
    }

    // Consumes `literal` if it comes next.
    bool Next(std::string_view literal)
    {
        if (!ok_ || xml_.compare(pos_, literal.size(), literal) != 0)
            return false;
        pos_ += literal.size();
        return true;
    }

    // ` name="value"`, the value converted to GBK.
    void Attribute(std::string_view name, std::string& value)
    {
        Expect(" ");
        Expect(name);
        Expect("=\"");
        if (!ok_)
            return;
        const std::size_t quote = xml_.find('"', pos_);
        if (quote == std::string_view::npos) {
            ok_ = false;
            return;
        }
        const std::string_view raw = xml_.substr(pos_, quote - pos_);
        Convert(raw, kAttributeBytes, value);
        pos_ = quote + 1;
    }

    // The body's start tag ends here unless its text was read.
    void EndBody()
    {
        if (!contentRead_)
            Expect(kEmptyEnd);
    }

    void Text(const char* attribute, std::string& value) override { Attribute(attribute, value); }

    void Content(std::string& value) override
    {
        if (!ok_)
            return;
        contentRead_ = true;
        if (Next(kEmptyEnd)) {
            value.clear();
            return;
        }
        Expect(">");
        const std::size_t end = xml_.find('<', pos_);
        if (!ok_ || end == std::string_view::npos) {
            ok_ = false;
            return;
        }
        const std::string_view raw = xml_.substr(pos_, end - pos_);
        // The writer closes an element without text on itself, and writes
        // a text of blanks only with a reference for its first blank.
        if (raw.empty() || OnlyBlanks(raw)) {
            ok_ = false;
            return;
        }
        Convert(raw, kTextBytes, value);
        pos_ = end;
        Expect(kBodyEnd);
    }

    // Records are read by the general parser.
    void Talker(CTalker&) override { ok_ = false; }
    void Talkers(std::vector<CTalker>&) override { ok_ = false; }
    void Server(CTalkerServer&) override { ok_ = false; }

private:
    void Convert(std::string_view raw, const std::array<bool, 256>& allowed, std::string& value)
    {
        if (!AllOf(raw, allowed) || !TextConverter::Utf8ToGbk(raw, value))
            ok_ = false;
    }

    std::string_view xml_;
    std::size_t pos_ = 0;
    bool contentRead_ = false;
    bool ok_ = true;
};

// The head's attributes after its type, and the routed list.
void ReadHeadRest(Reader& reader, CMessageBase& msg)
{
    for (const auto& field : kHeadFields) {
        if (field.member != &CMessageBase::type)
            reader.Attribute(field.attribute, msg.*field.member);
    }
    reader.Expect(kHeadEnd);
    if (!reader.Next(kRoutedStart))
        return;
    do {
        reader.Expect(kRoutedEntryStart);
        reader.Attribute(kRoutedNameAttribute, msg.routedServers.emplace_back().name);
        reader.Expect(kRoutedEntryEnd);
    } while (reader.ok() && !reader.Next(kRoutedEnd));
}

} // namespace

std::unique_ptr<CMessageBase> CanonicalForm::Read(std::string_view xml)
{
    Reader reader(xml);
    reader.Expect(kDeclaration);
    reader.Expect(kRootStart);
    std::string type;
    reader.Attribute(kHeadFields[0].attribute, type);
    if (!reader.ok())
        return nullptr;
    std::unique_ptr<CMessageBase> msg = CreateMessage(type);
    if (msg == nullptr)
        return nullptr;
    ReadHeadRest(reader, *msg);
    reader.Expect(kBodyStart);
    if (reader.ok())
        msg->VisitBody(reader);
    reader.EndBody();
    reader.Expect(kRootEnd);
    if (!reader.AtEnd())
        return nullptr;
    return msg;
}

} // namespace marlune
