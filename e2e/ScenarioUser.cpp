#include "ScenarioUser.h"

#include <marlune/Marlune.h>

#include <thread>

using marlune::CMessageBase;
using marlune::CMessageChangeStatu;
using marlune::CMessageUserInfor;
using marlune::CMessageUserTalking;
using quorvel::client::CSyncClient;

ScenarioUser::ScenarioUser(const ServerUnderTest& server, std::string id, std::string password)
    : server_(server), id_(std::move(id)), password_(std::move(password))
{
}

bool ScenarioUser::Connect()
{
    client_ = std::make_unique<CSyncClient>();
    return client_->Connect("127.0.0.1", static_cast<int>(server_.Port()));
}

bool ScenarioUser::Register()
{
    return Connect() && client_->Register(id_, id_, password_, kWait);
}

bool ScenarioUser::LogIn(const std::string& statu)
{
    return Connect() && client_->Login(id_, password_, statu, kWait);
}

void ScenarioUser::LogOut()
{
    if (client_)
        client_->Close();
}

bool ScenarioUser::Say(const std::string& target, const std::string& text)
{
    return client_ && client_->Say(target, text);
}

bool ScenarioUser::Sync()
{
    const std::string me = client_->Identity().Address();
    if (!Send(client_->Builder().Infor(me)))
        return false;
    return Next<CMessageUserInfor>([&](const CMessageBase& m) { return m.source == me; }) != nullptr;
}

std::vector<std::string> ScenarioUser::Chats(std::size_t count, std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    std::vector<std::string> texts;
    while (texts.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        auto chat = Next<CMessageUserTalking>({}, std::max(left, std::chrono::milliseconds(0)));
        if (!chat)
            break;
        texts.push_back(chat->text);
    }
    return texts;
}

std::vector<std::string> ScenarioUser::ChatsArrivingWithin(std::chrono::milliseconds pause)
{
    std::this_thread::sleep_for(pause);
    std::vector<std::string> texts;
    while (auto chat = Next<CMessageUserTalking>({}, std::chrono::milliseconds(0)))
        texts.push_back(chat->text);
    return texts;
}

std::string ScenarioUser::NextStatusOf(const std::string& userId)
{
    auto change = Next<CMessageChangeStatu>(
        [&](const CMessageBase& m) { return static_cast<const CMessageChangeStatu&>(m).userId == userId; });
    return change ? change->statu : std::string();
}
