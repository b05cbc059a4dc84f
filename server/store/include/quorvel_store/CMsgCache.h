#pragma once

#include "quorvel_store/CCacheCompaction.h"
#include "quorvel_store/CCacheFile.h"
#include "quorvel_store/CPendingIndex.h"
#include "quorvel_store/CStoreCounters.h"
#include "quorvel_store/MsgIndexLayout.h"

#include "corvane/CLogThrottle.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace scrivlet {
class CLog4c;
}

namespace quorvel::store {

// The on-disk cache of messages not handled when they arrived: msg_index.dat
// (an 8-byte head and one 132-byte record per message) and msg_data.dat (the
// message bytes one after another) in the data folder. Records are
// appended, or marked sent; the space of sent records is reclaimed by
// compacting both files (CCacheCompaction), which renumbers the records and
// therefore runs only while no record is handed out.
//
// Pending records are also kept in memory (built by the scan at opening,
// updated by AddMsg and SetMsgSent), so lookups cost no file read when
// nothing is pending and do not grow with the number of records written.
//
// Every public operation holds one lock for its whole length, so the service
// thread (AddMsg) and the delivery worker (lookups, SetMsgSent) may call them
// at the same time. Results: 1 success, 0 failure; no exception leaves.
class CMsgCache {
public:
    // Bounds on the store ([LIMITS] in server.ini).
    struct Limits {
        // Sent records are reclaimed (both files compacted) once the data
        // file reaches this size while at least three quarters of it is
        // sent; also the most pending bytes one compaction copies.
        std::uint64_t compactBytes = std::uint64_t{64} << 20;
        // Pending messages and bytes one target user@server may have.
        std::uint64_t targetPendingBytes = std::uint64_t{256} << 20;
        std::uint32_t targetPendingMessages = 100000;
    };

    explicit CMsgCache(scrivlet::CLog4c& log);
    ~CMsgCache();
    CMsgCache(const CMsgCache&) = delete;
    CMsgCache& operator=(const CMsgCache&) = delete;

    // Takes new bounds; they apply from the next operation. Any thread.
    void SetLimits(const Limits& limits);
    // Where refusals by the target bounds are counted (null: nowhere). Any thread.
    void SetCounters(std::shared_ptr<CStoreCounters> counters);

    // Opens (creating when missing) both files in directory, repairs an index
    // whose length disagrees with its head, and scans for pending records.
    // Returns 1 also when the files could not be opened: the cache then stays
    // closed and the next call tries again. Once open, a call only logs.
    // 0 only when an unexpected exception was caught. Any thread.
    int OpenCache(const std::string& directory);

    // Rescans the index: rebuilds the pending records in memory and sets the
    // head's first-pending number (written with the next AddMsg). Returns the
    // number of pending records. Any thread.
    int CountPending();

    // Pending records found by the last scan (not changed by later appends
    // or sent marks). Any thread.
    int ScannedPending() const;
    // Whether both files are open. Any thread.
    bool IsOpened() const;

    // Appends a message: its bytes exactly as received, and its record with
    // the four addresses. Refused (0, with a log line) while closed, when a
    // target value does not fit its field (it could never match its user or
    // server), when the target's pending messages would pass their bounds
    // (logged once a minute per sender and target), or when the data file
    // would pass 4 GiB even after reclaiming sent records. Source values too
    // long for their field are stored cut. Service thread.
    int AddMsg(const char* bytes, std::size_t length,
               const std::string& sourceUser, const std::string& sourceServer,
               const std::string& targetUser, const std::string& targetServer);

    // Hands out the oldest pending message for exactly this user id on
    // exactly this server (case-sensitive, whole texts) that is not handed
    // out already: fills bytes and record, returns 1; 0 when there is none.
    // The record stays handed out until SetMsgSent or ReleaseMsg, so the
    // next call gives the user's following message. Delivery worker thread.
    int GetUserMsg(std::string& bytes, std::uint32_t& record,
                   const std::string& userId, const std::string& serverName);

    // A message handed out: its record and its bytes as stored.
    struct StoredMsg {
        std::uint32_t record = 0;
        std::string bytes;
    };
    // Hands out the user's next pending messages, as that many GetUserMsg
    // calls would, in order: at most maxMessages, and none more once their
    // bytes reach maxBytes. Messages lying one after another in the data
    // file are read at once. Appends them to `out` and returns how many
    // (0: none pending). Should a read throw, none of them stays handed out.
    // Delivery worker thread.
    int GetUserMsgs(std::vector<StoredMsg>& out, const std::string& userId, const std::string& serverName,
                    std::size_t maxMessages, std::size_t maxBytes);

    // The same for the oldest pending message whose target server is not
    // localServer (an empty target server counts as another server).
    // Delivery worker thread (or the routing thread).
    int GetRouteMsg(std::string& bytes, std::uint32_t& record, const std::string& localServer);

    // Marks record sent; it is never handed out again. Also the way to retire
    // a record whose message no longer parses. When the mark cannot be
    // written the record was still delivered: it is logged once, never
    // handed out again in this run (a restart may deliver it once more), and
    // 0 tells the caller to back off. Any thread.
    int SetMsgSent(std::uint32_t record);

    // Puts a handed-out record back to pending: it is handed out again, in
    // its original order among the target's messages. 1 when the record was
    // handed out, 0 otherwise. Any thread.
    int ReleaseMsg(std::uint32_t record);

    // Whether a message is pending (handed out or not) for the user, or for
    // servers other than localServer; hands nothing out. Any thread.
    bool HasPendingFor(const std::string& userId, const std::string& serverName) const;
    bool HasPendingRoute(const std::string& localServer) const;

    // The store at one moment: pending messages (handed out or not) for the
    // users of localServer and for other servers, and the files' sizes.
    struct Stats {
        CPendingIndex::Totals local;
        CPendingIndex::Totals other;
        std::uint64_t indexFileBytes = 0;
        std::uint64_t dataFileBytes = 0;
    };
    // Zero sizes while closed. Any thread.
    Stats GetStats(const std::string& localServer);

    // Closes both files and forgets the pending records. Any thread.
    void CloseCache();

    // Faults for tests: writes to the index may fail (see CCacheFile), a
    // hook runs before each message is read (it may throw), and compaction
    // may stop at a step as a crash would (the cache is then closed).
    struct Faults {
        CCacheFile::WriteFault indexWrite{};
        std::function<void()> beforeRead{};
        CCacheCompaction::StepHook compactionStep{};
    };
    // Installs faults; default Faults{} removes them. Any thread.
    void InjectFaults(Faults faults);

private:
    bool OpenFiles();
    bool PrepareIndex();
    bool KeepShortIndexAside(std::uint64_t size);
    void RepairIndex(std::uint64_t size);
    std::uint32_t AdoptableRecords(std::uint32_t from, std::uint32_t upTo, std::uint64_t dataSize);
    std::uint32_t RecordsWithData(std::uint32_t count, std::uint64_t dataSize);
    bool HasData(std::uint32_t n, std::uint64_t dataSize);
    int ScanLocked();
    bool ReadRecord(std::uint32_t n, std::uint8_t* raw);
    bool TargetHasRoom(std::size_t length, const std::string& sourceUser, const std::string& sourceServer,
                       const std::string& targetUser, const std::string& targetServer);
    bool MakeRoom(std::uint64_t& offset, std::size_t length);
    void CompactIfWorthIt();
    bool Compact();
    int HandOut(std::optional<std::uint32_t> n, std::string& bytes, std::uint32_t& record);
    int ReadMessage(std::uint32_t n, std::string& bytes, std::uint32_t& record);
    void ReadMessages(std::vector<StoredMsg>& out, std::size_t from);
    void CheckReadLength(std::uint32_t n, std::size_t read);
    bool WriteHead();
    void LogFileError(const char* what, const std::string& error);

    template <typename Body>
    int Guarded(Body&& body);

    mutable std::mutex lock;
    scrivlet::CLog4c& log;
    CCacheFile indexFile;
    CCacheFile dataFile;
    MSG_INDEX_HEAD head;
    int pendingCount = 0;
    std::uint64_t dataEnd = 0; // where the bytes of the records end
    bool opened = false;
    std::string directory;
    std::string openError;
    CPendingIndex pending;
    std::set<std::uint32_t> unmarked; // delivered, but the sent mark failed
    Faults faults;
    Limits limits;
    std::shared_ptr<CStoreCounters> counters;
    // Refusals are logged once a minute per sender and target.
    corvane::CLogThrottle refusalLines;
};

} // namespace quorvel::store
