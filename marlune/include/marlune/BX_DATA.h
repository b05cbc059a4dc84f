#pragma once

#include <cstddef>
#include <string>

namespace marlune {

class CMessageBase;

// A build request and its result: the caller sets `msg`, CXmlMsg::BuildXml
// fills `buff` with the UTF-8 XML bytes. The record owns the bytes and frees
// them when it goes out of scope (or at Free), so no caller can leak them.
struct BX_DATA {
    CMessageBase* msg = nullptr;   // the message to build from; not owned
    std::string buff;              // the built bytes

    BX_DATA() = default;
    explicit BX_DATA(CMessageBase* message) : msg(message) {}

    const char* Data() const { return buff.data(); }
    std::size_t Length() const { return buff.size(); }
    // Releases the bytes at once, before the record goes away.
    void Free() { std::string().swap(buff); }
};

} // namespace marlune
