#include "CTerminalCommands.h"

#include "quorvel_shell/CServerConsoleDlg.h"

#include <sstream>
#include <vector>

namespace quorvel::terminal {

const char* const CTerminalCommands::kUsage =
    "unknown command; known commands: start, stop, status, options, options on, options off, exit";

namespace {

std::vector<std::string> Words(std::string_view line)
{
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

} // namespace

std::string CTerminalCommands::Run(std::string_view line)
{
    const std::vector<std::string> words = Words(line);
    if (words.empty())
        return {};
    const std::string& verb = words[0];
    if (words.size() == 1) {
        if (verb == "start") {
            console_.StartMsgService();
            return {};
        }
        if (verb == "stop") {
            console_.StopMsgService();
            return {};
        }
        if (verb == "options") {
            console_.OnOptions();
            return {};
        }
        if (verb == "status") {
            console_.OnStatus();
            return {};
        }
        if (verb == "exit") {
            console_.OnExitCommand(1);
            return {};
        }
    } else if (words.size() == 2 && verb == "options" && (words[1] == "on" || words[1] == "off")) {
        console_.OnOptionsClosed(true, words[1] == "on");
        console_.OnOptions();
        return {};
    }
    return kUsage;
}

} // namespace quorvel::terminal
