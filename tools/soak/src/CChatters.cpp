#include "CChatters.h"

#include "quorvel_client/CSyncClient.h"

#include "marlune/Marlune.h"

#include <cstdlib>
#include <sstream>
#include <thread>

namespace quorvel::soak {

using marlune::CMessageUserTalking;
using client::CSyncClient;

namespace {

const std::string kPrefix = "soak ";

} // namespace

CChatters::CChatters(int port, std::vector<std::string> users)
    : port_(port), users_(std::move(users)), next_(users_.size(), 0)
{
}

CChatters::~CChatters() = default;

bool CChatters::LogIn()
{
    for (const auto& user : users_) {
        auto client = std::make_unique<CSyncClient>();
        if (!client->Connect("127.0.0.1", port_) || !client->Login(user, "pw-" + user))
            return false;
        clients_.push_back(std::move(client));
    }
    return true;
}

void CChatters::Round()
{
    for (std::size_t i = 0; i < clients_.size(); ++i) {
        const std::string& target = users_[(i + 1) % users_.size()];
        const std::string text = kPrefix + users_[i] + " " + std::to_string(next_[i]);
        if (clients_[i]->Say(target + "@hub", text)) {
            ++next_[i];
            ++sent_;
        } else {
            ++sendFailures_;
        }
    }
    for (std::size_t i = 0; i < clients_.size(); ++i)
        Collect(i);
}

void CChatters::Collect(std::size_t receiver)
{
    for (auto& message : clients_[receiver]->TakeAll()) {
        auto* talking = dynamic_cast<CMessageUserTalking*>(message.get());
        if (talking == nullptr || talking->text.rfind(kPrefix, 0) != 0)
            continue;
        std::istringstream fields(talking->text.substr(kPrefix.size()));
        std::string sender;
        std::uint64_t number = 0;
        if (!(fields >> sender >> number))
            continue;
        if (seen_[{receiver, sender}].insert(number).second)
            ++received_;
        else
            ++duplicates_;
    }
}

void CChatters::Settle(std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (received_ < sent_ && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (std::size_t i = 0; i < clients_.size(); ++i)
            Collect(i);
    }
    // One more delivery cycle, in which a duplicate would show.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (std::size_t i = 0; i < clients_.size(); ++i)
        Collect(i);
}

std::uint64_t CChatters::Disconnected() const
{
    std::uint64_t closed = 0;
    for (const auto& client : clients_)
        closed += client->Closed() ? 1 : 0;
    return closed;
}

} // namespace quorvel::soak
