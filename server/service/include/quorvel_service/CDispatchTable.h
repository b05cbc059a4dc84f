#pragma once

#include "marlune/CMessageBase.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::service {

// A table from message type names to their handlers, read in order, first
// match wins. A row without a type stands for "any type that reaches this
// row": it runs and the lookup goes on with the rows below it. A message that
// no row takes gets false (it stays stored).
//
// Adding a message type to the service is adding a row. Threads: built once,
// then read by the thread that dispatches.
template <class... Args>
class CDispatchTable {
public:
    using Handler = std::function<bool(marlune::CMessageBase& message, Args... args)>;
    using Step = std::function<void(marlune::CMessageBase& message)>;

    // Handles messages of `type` with `handle`; its result is the dispatch's.
    CDispatchTable& Add(std::string type, Handler handle)
    {
        rows_.push_back({std::move(type), std::move(handle), {}});
        return *this;
    }
    // Runs `step` for every message no row above took, then goes on.
    CDispatchTable& AddAnyType(Step step)
    {
        rows_.push_back({{}, {}, std::move(step)});
        return *this;
    }

    bool Dispatch(marlune::CMessageBase& message, Args... args) const
    {
        for (const Row& row : rows_) {
            if (row.step)
                row.step(message);
            else if (row.type == message.type)
                return row.handle(message, args...);
        }
        return false;
    }

private:
    struct Row {
        std::string type;
        Handler handle;
        Step step;
    };
    std::vector<Row> rows_;
};

} // namespace quorvel::service
