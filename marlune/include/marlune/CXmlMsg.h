#pragma once

#include "marlune/BX_DATA.h"
#include "marlune/CMessageBase.h"

#include <tinyxml2.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace marlune {

// The XML message codec: frame payloads (UTF-8 XML) to message objects and
// back, and the document helpers the directory file's class builds on.
// A codec object keeps only the reason of its last failure; create one per
// use or per thread. Any thread may use its own object. No exception leaves
// an operation.
class CXmlMsg {
public:
    CXmlMsg() = default;
    virtual ~CXmlMsg() = default;

    // Parses one payload of `length` bytes. A known type gives a new object
    // of its class, owned by the caller, and fills `head` (when not null)
    // with the head. A well-formed message of an unknown type gives null but
    // fills the head. Anything else (not well-formed, not UTF-8, root not
    // `msg`, nesting or attribute counts beyond the limits) gives null and
    // leaves the head untouched; LastError tells why.
    std::unique_ptr<CMessageBase> ParseXmlNew(const void* data, std::size_t length,
                                              CMessageBase* head);
    // True when the last ParseXmlNew gave a message from a payload that is
    // byte for byte what BuildXml writes for that message (the library's
    // own layout), so BuildRelayed can pass it on.
    bool LastParseInOwnLayout() const { return ownLayout_; }
    // Whether ParseXmlNew reads a payload in the library's own layout
    // directly (the default) or gives every payload to the general XML
    // parser. Both give the same result; the tests compare the two.
    void SetDirectReading(bool direct) { directReading_ = direct; }

    // The bytes BuildXml writes for `message`, given that it was parsed
    // from `received`, a payload in the library's own layout
    // (LastParseInOwnLayout), and has since had one routed entry appended
    // and nothing else changed: the entry is spliced into a copy of the
    // received bytes instead of building the whole message. "" when
    // `received` does not hold one routed entry fewer than `message`, or
    // the entry's name does not convert: build the message then.
    static std::string BuildRelayed(std::string_view received, const CMessageBase& message);

    // Builds the XML of `bx->msg` into `bx->buff`; returns its length, or 0
    // when nothing was built (null record or message, a text that is not
    // GBK/GB18030); the buffer is then empty.
    std::size_t BuildXml(BX_DATA* bx);
    // The built bytes of `message`, ready to send as a frame's payload; ""
    // when nothing was built (LastError tells why).
    std::string BuildBytes(CMessageBase& message);

    // Adds the XML declaration and the root element `msg`, carrying the head
    // of `msg` (attributes and routed list), to `doc`; returns the root.
    // Null when memory ran out.
    tinyxml2::XMLElement* createXmlHead(tinyxml2::XMLDocument& doc, const CMessageBase& msg);

    // Serialises `doc` (its elements and texts, already UTF-8) the way
    // BuildXml writes messages, into `out->buff`; returns the length, 0 on
    // failure. Comments, declarations and other nodes are not written; the
    // output starts with the library's own declaration.
    std::size_t Doc2Buff(BX_DATA* out, const tinyxml2::XMLDocument& doc);

    // GBK (GB18030) to UTF-8 and back. A text that does not convert gives
    // "". Any thread: each thread has its own converters.
    static std::string g2u(std::string_view gbk);
    static std::string u2gb(std::string_view utf8);
    // GBK to UTF-8 for a reader (a terminal): where g2u gives "" for a text
    // that does not convert, this shows each byte that starts no valid
    // character as "?" and converts the rest. Any thread; may throw
    // bad_alloc.
    static std::string g2uShowing(std::string_view gbk);

    // Why the last ParseXmlNew, BuildXml or Doc2Buff failed ("" after a
    // success). Plain ASCII, meant for a log line.
    const std::string& LastError() const { return lastError_; }

private:
    // The message `doc` holds, as ParseXmlNew gives it.
    std::unique_ptr<CMessageBase> ReadMessage(const tinyxml2::XMLDocument& doc, CMessageBase* head);

    std::string lastError_;
    bool ownLayout_ = false;
    bool directReading_ = true;
};

} // namespace marlune
