#include "marlune/CTalkerServer.h"

#include <exception>

namespace marlune {

CTalkerServer::CTalkerServer(const CTalkerServer& other)
    : name(other.name), ip(other.ip), port(other.port), description(other.description)
{
    // The records only: the index is built at the copy's first look-up.
    talkers_.reserve(other.talkers_.size());
    for (const auto& talker : other.talkers_) {
        talkers_.push_back(std::make_unique<CTalker>(*talker));
    }
    indexed_ = talkers_.empty();
}

CTalkerServer& CTalkerServer::operator=(const CTalkerServer& other)
{
    if (this != &other) {
        CTalkerServer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

unsigned CTalkerServer::PortNumber() const
{
    unsigned value = 0;
    for (const char c : port) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value >= kNoPort)
            return kNoPort;
    }
    return value;
}

CTalkerServer CTalkerServer::Identity() const
{
    CTalkerServer identity;
    identity.name = name;
    identity.ip = ip;
    identity.port = port;
    identity.description = description;
    return identity;
}

char CTalkerServer::ForbiddenNameChar(std::string_view name)
{
    const std::size_t at = name.find_first_of("@/");
    return at == std::string_view::npos ? '\0' : name[at];
}

void CTalkerServer::Reserve(std::size_t count)
{
    talkers_.reserve(talkers_.size() + count);
    if (indexed_)
        byId_.reserve(byId_.size() + count);
}

bool CTalkerServer::Indexed() const
{
    if (indexed_)
        return true;
    try {
        byId_.reserve(talkers_.size());
        for (const auto& talker : talkers_) {
            if (!byId_.try_emplace(talker->userId, talker.get()).second)
                ++repeatedIds_;
        }
        indexed_ = true;
    } catch (const std::exception&) {
        byId_.clear();
        repeatedIds_ = 0;
    }
    return indexed_;
}

CTalker* CTalkerServer::Store(std::unique_ptr<CTalker> talker)
{
    CTalker* stored = talker.get();
    talkers_.push_back(std::move(talker));
    if (!indexed_)
        return stored;
    try {
        if (!byId_.try_emplace(stored->userId, stored).second) {
            ++repeatedIds_;
        }
    } catch (const std::exception&) {
        talkers_.pop_back();
        throw;
    }
    return stored;
}

CTalker* CTalkerServer::AddTalker(const CTalker& talker)
{
    try {
        return Store(std::make_unique<CTalker>(talker));
    } catch (const std::exception&) {
        return nullptr;
    }
}

CTalker* CTalkerServer::AddTalker(CTalker&& talker)
{
    try {
        return Store(std::make_unique<CTalker>(std::move(talker)));
    } catch (const std::exception&) {
        return nullptr;
    }
}

CTalker* CTalkerServer::GetTalkerByUserID(std::string_view userId)
{
    if (!Indexed()) {
        for (const auto& talker : talkers_) {
            if (talker->userId == userId)
                return talker.get();
        }
        return nullptr;
    }
    const auto found = byId_.find(userId);
    return found != byId_.end() ? found->second : nullptr;
}

const CTalker* CTalkerServer::GetTalkerByUserID(std::string_view userId) const
{
    return const_cast<CTalkerServer*>(this)->GetTalkerByUserID(userId);
}

CTalker* CTalkerServer::GetTalkerByLogin(std::string_view userId, std::string_view password)
{
    CTalker* first = GetTalkerByUserID(userId);
    if (first == nullptr || first->password == password) {
        return first;
    }
    if (indexed_ && repeatedIds_ == 0) {
        return nullptr;
    }
    for (const auto& talker : talkers_) {
        if (talker->userId == userId && talker->password == password) {
            return talker.get();
        }
    }
    return nullptr;
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
    byId_.clear();
    talkers_.clear();
    repeatedIds_ = 0;
    indexed_ = true;
}

} // namespace marlune
