#include "CanonicalForm.h"

#include "MessageFactory.h"
#include "RecordFields.h"
#include "TextConverter.h"
#include "XmlWriter.h"

#include "marlune/CFieldVisitor.h"

#include <algorithm>
#include <array>
#include <exception>

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
constexpr std::string_view kEntryIndent = "    ";

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

bool CanonicalForm::AddRoutedEntry(std::string_view canonical, std::size_t entriesBefore,
                                   std::string_view serverName, std::string& out)
{
    // The head is the line after the declaration: the layout writes a line
    // feed in an attribute value as a reference, and no raw "<" in a value.
    if (canonical.substr(0, kDeclaration.size()) != kDeclaration)
        return false;
    const std::size_t headEnd = canonical.find('\n', kDeclaration.size());
    if (headEnd == std::string_view::npos)
        return false;
    std::size_t at = headEnd + 1;
    const bool hasList = canonical.compare(at, kRoutedStart.size(), kRoutedStart) == 0;
    std::size_t entries = 0;
    if (hasList) {
        const std::size_t listStart = at + kRoutedStart.size();
        const std::size_t listEnd = canonical.find(kRoutedEnd, listStart);
        if (listEnd == std::string_view::npos)
            return false;
        entries = static_cast<std::size_t>(
            std::count(canonical.begin() + static_cast<std::ptrdiff_t>(listStart),
                       canonical.begin() + static_cast<std::ptrdiff_t>(listEnd), '\n'));
        at = listEnd;
    }
    if (entries != entriesBefore)
        return false;
    std::string name;
    if (!TextConverter::GbkToUtf8(serverName, name))
        return false;
    std::string entry(kEntryIndent);
    XmlWriter writer(entry);
    writer.Open(kServerElement);
    writer.Attribute(kRoutedNameAttribute, name);
    writer.Close();
    const std::string_view listOpen = hasList ? std::string_view() : kRoutedStart;
    const std::string_view listClose = hasList ? std::string_view() : kRoutedEnd;
    std::string spliced;
    spliced.reserve(canonical.size() + listOpen.size() + entry.size() + listClose.size());
    spliced.append(canonical.substr(0, at));
    spliced.append(listOpen);
    spliced.append(entry);
    spliced.append(listClose);
    spliced.append(canonical.substr(at));
    out = std::move(spliced);
    return true;
}

} // namespace marlune
