#pragma once

#include "marlune/CMessageBase.h"
#include "marlune/CTalker.h"
#include "marlune/CTalkerServer.h"

#include <string>

namespace marlune {

// The attribute names of the head and of the two record elements, in the
// order they are written. Reading and writing both walk these tables.
template <typename Record>
struct RecordField {
    const char* attribute;
    std::string Record::*member;
};

inline constexpr RecordField<CMessageBase> kHeadFields[] = {
    {"type", &CMessageBase::type},
    {"time", &CMessageBase::time},
    {"source", &CMessageBase::source},
    {"target", &CMessageBase::target},
    {"memo", &CMessageBase::memo},
};

inline constexpr RecordField<CTalker> kTalkerFields[] = {
    {"userid", &CTalker::userId},
    {"name", &CTalker::name},
    {"sex", &CTalker::sex},
    {"tel", &CTalker::tel},
    {"password", &CTalker::password},
    {"statu", &CTalker::statu},
    {"friends", &CTalker::friends},
    {"server", &CTalker::serverName},
    {"serverdesc", &CTalker::serverDesc},
    {"memo", &CTalker::memo},
};

inline constexpr RecordField<CTalkerServer> kServerFields[] = {
    {"name", &CTalkerServer::name},
    {"ip", &CTalkerServer::ip},
    {"port", &CTalkerServer::port},
    {"description", &CTalkerServer::description},
};

// Element names of the message document.
inline constexpr const char* kRootElement = "msg";
inline constexpr const char* kRoutedElement = "routed";
inline constexpr const char* kBodyElement = "body";
inline constexpr const char* kServerElement = "server";
inline constexpr const char* kTalkerElement = "talker";
inline constexpr const char* kRoutedNameAttribute = "name";

} // namespace marlune
