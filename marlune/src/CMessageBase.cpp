#include "marlune/CMessageBase.h"

#include <exception>

namespace marlune {

namespace {

// The part of an address before the first "@" (the whole text without one).
std::string UserPart(const std::string& address)
{
    return address.substr(0, address.find('@'));
}

// The part of an address after the first "@" ("" without one).
std::string ServerPart(const std::string& address)
{
    const std::size_t at = address.find('@');
    return at == std::string::npos ? std::string() : address.substr(at + 1);
}

} // namespace

CMessageBase::CMessageBase(const CMessageBase* from)
{
    if (from != nullptr) {
        *this = *from;
    }
}

std::string CMessageBase::DetachTargetUserId() const
{
    return UserPart(target);
}

std::string CMessageBase::DetachTargetServerName() const
{
    return ServerPart(target);
}

std::string CMessageBase::DetachSourceUserId() const
{
    return UserPart(source);
}

std::string CMessageBase::DetachSourceServerName() const
{
    return ServerPart(source);
}

void CMessageBase::AddRoutedServer(const CTalkerServer& server)
{
    try {
        routedServers.push_back(server.Identity());
    } catch (const std::exception&) {
        // Out of memory: the entry is missing; the loop guard of the next
        // server still sees the servers before this one.
    }
}

CTalkerServer* CMessageBase::GetRouteServerByName(std::string_view name)
{
    for (auto& server : routedServers) {
        if (server.name == name) {
            return &server;
        }
    }
    return nullptr;
}

const CTalkerServer* CMessageBase::GetRouteServerByName(std::string_view name) const
{
    return const_cast<CMessageBase*>(this)->GetRouteServerByName(name);
}

void CMessageBase::VisitBody(CFieldVisitor& /*visitor*/)
{
}

} // namespace marlune
