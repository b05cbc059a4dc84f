#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace quorvel::testsupport {

// A copy of quorveld running in a folder of its own (its config/, data/, log/
// and tmp/ live there), with standard input through a pipe and standard
// output through a pipe or into a file. The destructor kills and reaps a
// copy that is still running. Used by the tests and by the load and soak
// tools, which start the program they are given.
//
// Thread: one owner; ReadOutput alone may run on one other thread while the
// owner touches nothing of the output (Output, WaitForOutput, ReadOutputFor).
class QuorveldProcess {
public:
    // Copies `program` into `folder`; Start fails when that failed.
    QuorveldProcess(const std::filesystem::path& folder, const std::filesystem::path& program);
#ifdef QUORVELD_PATH
    // The quorveld this test program was built with.
    explicit QuorveldProcess(const std::filesystem::path& folder) : QuorveldProcess(folder, QUORVELD_PATH) {}
#endif
    ~QuorveldProcess();
    QuorveldProcess(const QuorveldProcess&) = delete;
    QuorveldProcess& operator=(const QuorveldProcess&) = delete;

    // Starts the copy, with `argument` on its command line when not empty,
    // its standard output into `outputFile` when given (else a pipe read
    // by the calls below); false when it cannot be started.
    bool Start(const std::string& argument = {}, const std::filesystem::path& outputFile = {});

    // Reads standard output until it holds `text` (UTF-8) `times` times;
    // false when the program closes its output or `limit` passes first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit, int times = 1);
    // Reads what the program writes within `limit`; false once it has
    // closed its output.
    bool ReadOutputFor(std::chrono::milliseconds limit);
    // Waits for the program's next output and appends it to `into` instead
    // of Output(); false once the program has closed its output.
    bool ReadOutput(std::string& into);
    int Occurrences(const std::string& text) const;
    const std::string& Output() const { return output_; }

    // Waits (bounded) until 127.0.0.1:`port` takes a connection; false when
    // the program ends or `limit` passes first.
    bool WaitUntilAccepting(unsigned port, std::chrono::milliseconds limit);

    // Types one command line on the program's standard input.
    bool SendLine(const std::string& line);
    // Ends the program's standard input.
    void CloseInput();
    // True while the program has not ended (an ended one is left to WaitForExit).
    bool Running() const;
    bool Signal(int signal);
    // The running program's process id; -1 before Start and after its end.
    pid_t Pid() const { return pid_; }

    // Waits for the program to end; its wait status, or -1 when `limit`
    // passes first (the program still runs).
    int WaitForExit(std::chrono::milliseconds limit);
    // SIGTERM, then SIGKILL when the program has not ended within `grace`;
    // its wait status (-1 when none ran).
    int Stop(std::chrono::milliseconds grace);

    // The name of today's log file, "YYYY-MM-DD.txt".
    static std::string TodaysLogName();

private:
    bool Append(std::string& into);

    std::filesystem::path program_;
    bool copied_ = false;
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    std::string output_;
};

} // namespace quorvel::testsupport
