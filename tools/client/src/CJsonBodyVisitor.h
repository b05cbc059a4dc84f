#pragma once

#include <marlune/CFieldVisitor.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace quorvel::client {

// Collects the body of a message as JSON members, texts converted from GBK
// to UTF-8: the body attributes as one object, the text content, and the
// records (talkers, server) as JSON values. Used by CMessagePrinter.
class CJsonBodyVisitor : public marlune::CFieldVisitor {
public:
    // With keepContent false the text content is left out (file chunks).
    explicit CJsonBodyVisitor(bool keepContent) : keepContent_(keepContent) {}

    void Text(const char* attribute, std::string& value) override;
    void Content(std::string& value) override;
    void Talker(marlune::CTalker& talker) override;
    void Talkers(std::vector<marlune::CTalker>& talkers) override;
    void Server(marlune::CTalkerServer& server) override;

    // Adds "body", and "content", "talkers", "server" when present.
    void AddTo(nlohmann::ordered_json& json) const;

    static nlohmann::ordered_json TalkerJson(const marlune::CTalker& talker);

private:
    bool keepContent_;
    nlohmann::ordered_json body_ = nlohmann::ordered_json::object();
    std::optional<std::string> content_;
    nlohmann::ordered_json talkers_ = nlohmann::ordered_json::array();
    nlohmann::ordered_json server_;
};

} // namespace quorvel::client
