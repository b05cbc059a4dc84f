#pragma once

#include <string>
#include <string_view>

namespace quorvel::shell {
class CServerConsoleDlg;
}

namespace quorvel::terminal {

// The terminal console's commands, one per input line: "start", "stop",
// "options" (shows the SendAllFriend flag), "options on" / "options off"
// (the options dialog closed with "保存&S", its box set or cleared; the new
// value is shown), "status" (the status block) and "exit". Blanks around
// and between words do not matter; an empty line does nothing; anything
// else gets the list of known commands.
//
// Thread: the service loop thread, like the console.
class CTerminalCommands {
public:
    explicit CTerminalCommands(shell::CServerConsoleDlg& console) : console_(console) {}

    // Runs one command line. Returns the answer to show (empty for none).
    std::string Run(std::string_view line);

    // The answer to an unknown command.
    static const char* const kUsage;

private:
    shell::CServerConsoleDlg& console_;
};

} // namespace quorvel::terminal
