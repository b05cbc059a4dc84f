#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::load {

// The command line of quorvel-load:
//   quorvel-load SCENARIO (--port P [--pid PID] | --server PROGRAM) [options]
// Either connect to a server already listening on 127.0.0.1:P (its resident
// memory is read only when --pid names it), or start a copy of PROGRAM in a
// temporary folder with a generated directory file. A plain value.
class CLoadOptions {
public:
    std::string scenario;  // relay, chat, offline, connections, logins, loopback
    unsigned port = 0;
    int pid = 0;
    std::string serverProgram;
    bool forceLogin = true;   // --login force|password
    unsigned users = 0;       // chat, connections, logins
    unsigned pairs = 0;       // relay
    unsigned messages = 0;    // offline
    double rate = -1;         // messages per second in all; 0 = as fast as the server takes them
    double seconds = -1;      // sending time
    double drainSeconds = -1; // longest wait for the last messages after sending stops
    unsigned window = 0;      // relay at full speed: messages in flight per sender
    unsigned friends = 0;     // users of a generated directory: friends each
    unsigned registered = 0;  // users of a generated directory: at least this many
    std::string report;       // HTML report file; "" = quorvel-load-SCENARIO.html
    bool baseline = true;     // relay: also measure the plain-socket loopback limit

    // Parses the arguments after the program name and fills the defaults of
    // the scenario. Nullopt with `error` set on a bad command line.
    static std::optional<CLoadOptions> Parse(const std::vector<std::string>& args, std::string& error);
    static std::string Usage();
    // True when the arguments hold --help (or -h): the usage is printed instead.
    static bool AsksForHelp(const std::vector<std::string>& args);
    // Whether the server is started by the generator.
    bool Spawns() const { return !serverProgram.empty(); }

private:
    void FillDefaults();
};

} // namespace quorvel::load
