#include "marlune/CXmlMsg.h"

#include "BodyReader.h"
#include "BodyWriter.h"
#include "CanonicalForm.h"
#include "DocWriter.h"
#include "MessageFactory.h"
#include "RecordFields.h"
#include "TextConverter.h"
#include "XmlPrescan.h"
#include "XmlWriter.h"

#include <exception>
#include <string_view>

namespace marlune {

namespace {

// Room for the declaration and the head of a typical message.
constexpr std::size_t kBuildReserve = 512;

// Payloads up to this size are parsed into a document each thread keeps:
// its node pools and buffers are reused, so a short message costs the
// parser no allocation but its text buffer. A longer payload gets a
// document of its own, which frees its memory when the parse is done, so
// no thread keeps the pools of the largest message it has met.
constexpr std::size_t kReusedDocumentBytes = 16384;

// Parses `xml` into `doc`, or into a fresh document when it is long, and
// calls `use` with the parsed document; false (and why) when it is not
// well-formed.
template <typename Use>
bool ParseDocument(std::string_view xml, std::string& why, Use&& use)
{
    auto parse = [&](tinyxml2::XMLDocument& doc) {
        if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
            why = std::string("not well-formed XML: ") + doc.ErrorName();
            doc.Clear();
            return false;
        }
        use(static_cast<const tinyxml2::XMLDocument&>(doc));
        doc.Clear();
        return true;
    };
    if (xml.size() > kReusedDocumentBytes) {
        tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
        return parse(doc);
    }
    thread_local tinyxml2::XMLDocument reused(true, tinyxml2::PRESERVE_WHITESPACE);
    return parse(reused);
}

} // namespace

std::unique_ptr<CMessageBase> CXmlMsg::ParseXmlNew(const void* data, std::size_t length,
                                                   CMessageBase* head)
{
    lastError_.clear();
    ownLayout_ = false;
    try {
        if (data == nullptr || length == 0) {
            lastError_ = "empty payload";
            return nullptr;
        }
        const std::string_view xml(static_cast<const char*>(data), length);
        if (!TextConverter::IsValidUtf8(xml)) {
            lastError_ = "payload is not valid UTF-8";
            return nullptr;
        }
        if (directReading_) {
            if (std::unique_ptr<CMessageBase> msg = CanonicalForm::Read(xml)) {
                if (head != nullptr) {
                    *head = *msg;
                }
                ownLayout_ = true;
                return msg;
            }
        }
        if (!XmlPrescan::Check(xml, lastError_)) {
            return nullptr;
        }
        std::unique_ptr<CMessageBase> msg;
        if (!ParseDocument(xml, lastError_, [&](const tinyxml2::XMLDocument& doc) {
                msg = ReadMessage(doc, head);
            })) {
            return nullptr;
        }
        return msg;
    } catch (const std::exception& e) {
        lastError_ = std::string("parse failed: ") + e.what();
        return nullptr;
    }
}

std::unique_ptr<CMessageBase> CXmlMsg::ReadMessage(const tinyxml2::XMLDocument& doc, CMessageBase* head)
{
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || std::string_view(root->Name()) != kRootElement || root->NextSiblingElement() != nullptr) {
        lastError_ = "the document is not one msg element";
        return nullptr;
    }
    const tinyxml2::XMLElement* body = root->FirstChildElement(kBodyElement);
    BodyReader reader(body);
    CMessageBase parsedHead;
    reader.ReadHead(*root, parsedHead);
    std::unique_ptr<CMessageBase> msg = CreateMessage(parsedHead.type);
    if (msg != nullptr) {
        msg->VisitBody(reader);
    }
    if (!reader.ok()) {
        lastError_ = "a text is not convertible to GB18030";
        return nullptr;
    }
    if (msg == nullptr) {
        lastError_ = "unknown message type";
        if (head != nullptr) {
            *head = std::move(parsedHead);
        }
        return nullptr;
    }
    if (head != nullptr) {
        *head = parsedHead;
    }
    static_cast<CMessageBase&>(*msg) = std::move(parsedHead);
    return msg;
}

std::string CXmlMsg::BuildRelayed(std::string_view received, const CMessageBase& message)
{
    try {
        std::string out;
        if (message.routedServers.empty() ||
            !CanonicalForm::AddRoutedEntry(received, message.routedServers.size() - 1,
                                           message.routedServers.back().name, out)) {
            return {};
        }
        return out;
    } catch (const std::exception&) {
        return {};
    }
}

std::size_t CXmlMsg::BuildXml(BX_DATA* bx)
{
    lastError_.clear();
    if (bx == nullptr || bx->msg == nullptr) {
        lastError_ = "no message to build";
        return 0;
    }
    try {
        bx->buff.clear();
        bx->buff.reserve(kBuildReserve);
        XmlWriter writer(bx->buff);
        BodyWriter body(writer);
        writer.Declaration();
        body.OpenMessage(*bx->msg);
        writer.Open(kBodyElement);
        bx->msg->VisitBody(body);
        writer.Close();
        writer.Close();
        if (!body.ok()) {
            bx->Free();
            lastError_ = "a text is not valid GB18030";
            return 0;
        }
        return bx->Length();
    } catch (const std::exception& e) {
        bx->Free();
        lastError_ = std::string("build failed: ") + e.what();
        return 0;
    }
}

std::string CXmlMsg::BuildBytes(CMessageBase& message)
{
    BX_DATA bx(&message);
    if (BuildXml(&bx) == 0)
        return {};
    return std::move(bx.buff);
}

tinyxml2::XMLElement* CXmlMsg::createXmlHead(tinyxml2::XMLDocument& doc, const CMessageBase& msg)
{
    try {
        doc.InsertFirstChild(doc.NewDeclaration());
        tinyxml2::XMLElement* root = doc.NewElement(kRootElement);
        for (const auto& field : kHeadFields) {
            root->SetAttribute(field.attribute, g2u(msg.*field.member).c_str());
        }
        if (!msg.routedServers.empty()) {
            tinyxml2::XMLElement* routed = root->InsertNewChildElement(kRoutedElement);
            for (const CTalkerServer& server : msg.routedServers) {
                routed->InsertNewChildElement(kServerElement)
                    ->SetAttribute(kRoutedNameAttribute, g2u(server.name).c_str());
            }
        }
        doc.InsertEndChild(root);
        return root;
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::size_t CXmlMsg::Doc2Buff(BX_DATA* out, const tinyxml2::XMLDocument& doc)
{
    lastError_.clear();
    if (out == nullptr) {
        lastError_ = "no output record";
        return 0;
    }
    try {
        out->buff.clear();
        XmlWriter writer(out->buff);
        DocWriter docWriter(writer);
        writer.Declaration();
        doc.Accept(&docWriter);
        return out->Length();
    } catch (const std::exception& e) {
        out->Free();
        lastError_ = std::string("serialising failed: ") + e.what();
        return 0;
    }
}

std::string CXmlMsg::g2u(std::string_view gbk)
{
    std::string out;
    TextConverter::GbkToUtf8(gbk, out);
    return out;
}

std::string CXmlMsg::u2gb(std::string_view utf8)
{
    std::string out;
    TextConverter::Utf8ToGbk(utf8, out);
    return out;
}

std::string CXmlMsg::g2uShowing(std::string_view gbk)
{
    return TextConverter::GbkToUtf8Showing(gbk);
}

} // namespace marlune
