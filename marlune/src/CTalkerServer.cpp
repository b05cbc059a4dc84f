#include "marlune/CTalkerServer.h"

#include <exception>

CTalkerServer::CTalkerServer(const CTalkerServer& other)
    : name(other.name), ip(other.ip), port(other.port), description(other.description)
{
    talkers.reserve(other.talkers.size());
    for (const auto& talker : other.talkers) {
        talkers.push_back(std::make_unique<CTalker>(*talker));
    }
}

CTalkerServer& CTalkerServer::operator=(const CTalkerServer& other)
{
    if (this != &other) {
        CTalkerServer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CTalker* CTalkerServer::AddTalker(const CTalker& talker)
{
    try {
        talkers.push_back(std::make_unique<CTalker>(talker));
        return talkers.back().get();
    } catch (const std::exception&) {
        return nullptr;
    }
}

CTalker* CTalkerServer::GetTalkerByUserID(std::string_view userId)
{
    for (const auto& talker : talkers) {
        if (talker->userId == userId) {
            return talker.get();
        }
    }
    return nullptr;
}

const CTalker* CTalkerServer::GetTalkerByUserID(std::string_view userId) const
{
    return const_cast<CTalkerServer*>(this)->GetTalkerByUserID(userId);
}

CTalker* CTalkerServer::SetTalkerStatu(std::string_view userId, std::string_view statu)
{
    CTalker* talker = GetTalkerByUserID(userId);
    if (talker != nullptr) {
        try {
            talker->statu = statu;
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    return talker;
}

void CTalkerServer::ReleaseAll()
{
    talkers.clear();
}
