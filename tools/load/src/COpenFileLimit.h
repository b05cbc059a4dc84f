#pragma once

namespace quorvel::load {

// The process's limit on open files. Any thread.
class COpenFileLimit {
public:
    struct Limits {
        unsigned long soft = 0;
        unsigned long hard = 0;
    };
    static Limits Current();
    // Raises the soft limit to the hard one, so thousands of connections
    // fit; returns the limits before the change.
    static Limits RaiseToHard();
};

} // namespace quorvel::load
