#pragma once

#include "quorvel_store/CCacheFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::store {

// Rewrites the message cache's two files with only the records still
// pending, in their present formats: records renumbered from 0 in their
// old order, their bytes one after another.
//
// Safe against a crash at any point: the new pair is written beside the old
// one ("msg_index.dat.new", "msg_data.dat.new") and made durable, then a
// commit marker ("msg_compact.commit") is made durable, then both files are
// renamed over the old ones and the marker removed. Recover, run before the
// files are opened, finishes a compaction whose marker exists and discards
// one whose marker does not, so an opening sees the old pair or the new
// pair, never a mix.
// Not thread-safe: the cache runs it under its own lock.
class CCacheCompaction {
public:
    enum class Result {
        Done,     // the new pair is in place
        Failed,   // nothing changed; the old pair stays in use
        Stopped,  // the step hook stopped it, as a crash would
        Broken,   // a rename failed after the commit: the next Recover finishes it
    };

    // Called after each durable step with its name ("written", "marked",
    // "index-renamed", "data-renamed"); false stops the compaction there as a
    // crash would. Tests use it; empty: no stop.
    using StepHook = std::function<bool(const char* step)>;

    CCacheCompaction(const std::string& directory, StepHook hook);

    // Writes the new pair from the open old files, keeping `records`
    // (ascending record numbers), and commits it. The old files stay open
    // and untouched until the renames; the caller reopens afterwards.
    Result Run(CCacheFile& index, CCacheFile& data, const std::vector<std::uint32_t>& records);
    // Why the last Run failed.
    const std::string& Error() const { return error; }

    // Finishes or discards a compaction a crash interrupted; `line` says
    // which for the log ("" when there was none). False when the files could
    // not be put right: they must not be opened then.
    static bool Recover(const std::string& directory, std::string& line);

private:
    bool WriteNewPair(CCacheFile& index, CCacheFile& data, const std::vector<std::uint32_t>& records);
    bool CopyRecord(CCacheFile& index, CCacheFile& data, std::uint32_t n, std::uint32_t at, CCacheFile& newData,
                    std::uint64_t& newOffset, std::vector<std::uint8_t>& newIndex);
    Result Commit();
    bool Step(const char* name) const { return !hook || hook(name); }
    bool Fail(const std::string& what);

    std::string directory;
    StepHook hook;
    std::string error;
};

} // namespace quorvel::store
