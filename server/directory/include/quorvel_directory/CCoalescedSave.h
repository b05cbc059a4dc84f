#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace quorvel::directory {

// Runs a save at most once per interval on the loop current when it is
// created: a request when no save ran within the interval saves at once; a
// request within it arms one save at the interval's end, which every further
// request meanwhile joins. So a flood of changes (registrations, server
// announcements) costs one write of the file per interval instead of one
// each, and the loop keeps serving in between.
//
// Thread: the loop's thread for every method, the destructor included.
class CCoalescedSave {
public:
    CCoalescedSave(std::function<void()> save, std::chrono::milliseconds interval);
    // Drops a pending save (call Flush first to keep it).
    ~CCoalescedSave();
    CCoalescedSave(const CCoalescedSave&) = delete;
    CCoalescedSave& operator=(const CCoalescedSave&) = delete;

    void Request();
    // Runs a pending save now.
    void Flush();

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace quorvel::directory
