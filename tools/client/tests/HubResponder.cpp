#include "HubResponder.h"

#include <marlune/Marlune.h>

using marlune::CMessageBase;
using marlune::CMessageTransFile;
using marlune::CMessageUserLogin;
using marlune::CMessageUserTalking;

TestListener::Responder HubResponder()
{
    return [](CMessageBase& received) {
        std::vector<std::unique_ptr<CMessageBase>> replies;
        if (auto* login = dynamic_cast<CMessageUserLogin*>(&received)) {
            auto reply = std::make_unique<CMessageUserLogin>(*login);
            reply->result = login->password == "wrong" ? "failed" : "success";
            reply->routedServers.emplace_back().name = "hub";
            replies.push_back(std::move(reply));
        } else if (auto* talk = dynamic_cast<CMessageUserTalking*>(&received); talk && talk->target == "bob@hub") {
            auto back = std::make_unique<CMessageUserTalking>();
            back->source = "bob@hub";
            back->target = talk->source;
            back->text = "hello back";
            back->routedServers.emplace_back().name = "hub";
            replies.push_back(std::move(back));
        } else if (auto* file = dynamic_cast<CMessageTransFile*>(&received)) {
            auto back = std::make_unique<CMessageTransFile>(*file);
            back->source = "bob@hub";
            back->target = file->source;
            back->routedServers.emplace_back().name = "hub";
            replies.push_back(std::move(back));
        }
        return replies;
    };
}
