#include "CRandomMessage.h"

#include "marlune/Marlune.h"

#include <array>
#include <functional>
#include <memory>

namespace quorvel::soak {

using marlune::CFieldVisitor;
using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageHeart;
using marlune::CMessageServerPub;
using marlune::CMessageTransFile;
using marlune::CMessageUserFriend;
using marlune::CMessageUserInfor;
using marlune::CMessageUserList;
using marlune::CMessageUserLogin;
using marlune::CMessageUserReg;
using marlune::CMessageUserTalking;
using marlune::CTalker;
using marlune::CTalkerServer;
using marlune::CXmlMsg;
namespace message_word = marlune::message_word;

namespace {

// Fills every field the message names with random values.
class CRandomFields : public CFieldVisitor {
public:
    explicit CRandomFields(CRandomMessage& random) : random_(random) {}

    void Text(const char*, std::string& value) override { value = Pick(); }
    void Content(std::string& value) override { value = Pick(); }
    void Talker(CTalker& talker) override
    {
        talker.userId = random_.Text(12);
        talker.name = Pick();
        talker.sex = random_.Text(2);
        talker.tel = random_.Text(12);
        talker.password = random_.Text(8);
        talker.statu = random_.Text(8);
        talker.friends = random_.Address() + "/" + random_.Address();
        talker.serverName = random_.Text(8);
        talker.memo = Pick();
    }
    void Talkers(std::vector<CTalker>& talkers) override
    {
        talkers.resize(random_.Engine()() % 4);
        for (auto& talker : talkers)
            Talker(talker);
    }
    void Server(CTalkerServer& server) override
    {
        server.name = random_.Text(10);
        server.ip = "127.0.0.1";
        server.port = std::to_string(random_.Engine()() % 65536);
        server.description = Pick();
        const std::size_t users = random_.Engine()() % 4;
        for (std::size_t i = 0; i < users; ++i) {
            CTalker talker;
            Talker(talker);
            server.AddTalker(talker);
        }
    }

private:
    // Mostly short texts, sometimes "true" (the flags), sometimes long.
    std::string Pick()
    {
        switch (random_.Engine()() % 8) {
        case 0:
            return message_word::kTrue;
        case 1:
            return random_.Text(10000);
        default:
            return random_.Text(24);
        }
    }

    CRandomMessage& random_;
};

using Factory = std::function<std::unique_ptr<CMessageBase>()>;

template <class T>
Factory Make()
{
    return [] {
        auto message = std::make_unique<T>();
        message->type = T::kType;
        return std::unique_ptr<CMessageBase>(std::move(message));
    };
}

const std::array<Factory, 11>& Factories()
{
    static const std::array<Factory, 11> factories = {
        Make<CMessageHeart>(),       Make<CMessageServerPub>(),  Make<CMessageUserLogin>(),
        Make<CMessageUserReg>(),     Make<CMessageUserInfor>(),  Make<CMessageUserList>(),
        Make<CMessageChangeStatu>(), Make<CMessageTransFile>(),  Make<CMessageUserTalking>(),
        Make<CMessageUserFriend>(),  [] { return std::make_unique<CMessageBase>(); },
    };
    return factories;
}

} // namespace

CRandomMessage::CRandomMessage(std::uint32_t seed, std::vector<std::string> knownUsers)
    : engine_(seed), knownUsers_(std::move(knownUsers))
{
}

std::string CRandomMessage::Text(std::size_t maxLength)
{
    static const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 <>&\"'/@=;-_.\t";
    std::string text(engine_() % (maxLength + 1), ' ');
    for (char& c : text)
        c = alphabet[engine_() % alphabet.size()];
    return text;
}

std::string CRandomMessage::Address()
{
    switch (engine_() % 4) {
    case 0:
        return knownUsers_.empty() ? Text(8) : knownUsers_[engine_() % knownUsers_.size()] + "@hub";
    case 1:
        return Text(8) + "@hub";
    case 2:
        return Text(8) + "@" + Text(6);
    default:
        return Text(8);
    }
}

std::string CRandomMessage::Next()
{
    const auto& factories = Factories();
    std::unique_ptr<CMessageBase> message = factories[engine_() % factories.size()]();
    if (message->type.empty())
        message->type = Text(12);
    message->time = Text(20);
    message->source = Address();
    message->target = Address();
    message->memo = Text(30);
    const std::size_t routed = engine_() % 3;
    for (std::size_t i = 0; i < routed; ++i) {
        CTalkerServer server;
        server.name = Text(8);
        server.ip = "127.0.0.1";
        message->AddRoutedServer(server);
    }
    CRandomFields fields(*this);
    message->VisitBody(fields);
    return CXmlMsg().BuildBytes(*message);
}

} // namespace quorvel::soak
