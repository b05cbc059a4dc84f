#include "quorvel_store/CMsgCache.h"

#include <scrivlet/CLog4c.h>
#include <scrivlet/GbkText.h>
#include <scrivlet/LogText.h>

#include <algorithm>
#include <exception>
#include <fstream>
#include <limits>
#include <vector>

namespace quorvel::store {

using scrivlet::CLog4c;
using scrivlet::ErrorText;
using scrivlet::GbkPrefixLength;

using namespace MsgIndexLayout;

namespace {

constexpr std::uint32_t kScanBatch = 4096; // records read at once by a scan
constexpr int kInfo = 0;
constexpr int kError = 2;
constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();
// Messages up to this length are read without asking the data file's size.
constexpr std::uint64_t kUncheckedRead = 64 * 1024;
// The most bytes of messages lying back to back read at once.
constexpr std::uint64_t kRunBytes = 1024 * 1024;

// A source address only describes the message; cut to its field without
// splitting a character, it still lets the message be delivered.
std::string CutToField(const std::string& text, std::size_t width)
{
    return text.substr(0, GbkPrefixLength(text, width - 1));
}

} // namespace

CMsgCache::CMsgCache(CLog4c& logger)
    : log(logger)
{
}

CMsgCache::~CMsgCache()
{
    CloseCache();
}

template <typename Body>
int CMsgCache::Guarded(Body&& body)
{
    std::lock_guard<std::mutex> guard(lock);
    try {
        return body();
    } catch (const std::exception& e) {
        log.LogEvent(ErrorText(e.what()).c_str());
        return 0;
    }
}

void CMsgCache::SetLimits(const Limits& bounds)
{
    std::lock_guard<std::mutex> guard(lock);
    limits = bounds;
}

void CMsgCache::SetCounters(std::shared_ptr<CStoreCounters> counting)
{
    std::lock_guard<std::mutex> guard(lock);
    counters = std::move(counting);
}

int CMsgCache::OpenCache(const std::string& dir)
{
    return Guarded([&] {
        log.LogEvent(kInfo, "正在准备打开消息索引文件!");
        if (opened)
            return 1;
        directory = dir;
        opened = OpenFiles();
        ScanLocked();
        CompactIfWorthIt();
        return 1;
    });
}

bool CMsgCache::OpenFiles()
{
    head = MSG_INDEX_HEAD{};
    std::string recovery;
    const bool recovered = CCacheCompaction::Recover(directory, recovery);
    if (!recovery.empty())
        log.LogEvent(recovered ? kInfo : kError, "%s", recovery.c_str());
    if (!recovered)
        openError = recovery;
    else if (!indexFile.Open(directory + "/msg_index.dat"))
        openError = indexFile.LastError();
    else if (!dataFile.Open(directory + "/msg_data.dat"))
        openError = dataFile.LastError();
    else if (!PrepareIndex())
        openError = indexFile.LastError().empty() ? directory + "/msg_index.dat" : indexFile.LastError();
    else {
        openError.clear();
        return true;
    }
    LogFileError("打开消息缓存文件失败", openError);
    indexFile.Close();
    dataFile.Close();
    head = MSG_INDEX_HEAD{};
    return false;
}

// Reads the head and makes the index exactly 8 + 132 x count bytes long, so
// that record n always lies at 8 + 132 x n.
bool CMsgCache::PrepareIndex()
{
    std::uint64_t size = 0;
    if (!indexFile.Size(size))
        return false;
    if (size == 0)
        return WriteHead();
    if (size < kHeadSize)
        return KeepShortIndexAside(size);
    std::uint8_t raw[kHeadSize] = {};
    if (indexFile.ReadAt(0, raw, kHeadSize) != kHeadSize)
        return false;
    head = MSG_INDEX_HEAD::Decode(raw);
    RepairIndex(size);
    return true;
}

// An index shorter than its head holds no record; the old bytes are kept
// beside it and the index starts again empty.
bool CMsgCache::KeepShortIndexAside(std::uint64_t size)
{
    std::vector<char> old(size);
    const std::string badPath = directory + "/msg_index.dat.bad";
    if (indexFile.ReadAt(0, old.data(), old.size()) != old.size())
        return false;
    std::ofstream bad(badPath, std::ios::binary | std::ios::trunc);
    bad.write(old.data(), static_cast<std::streamsize>(old.size()));
    bad.close();
    if (!bad) {
        LogFileError("保存损坏的消息索引文件失败", badPath);
        return false;
    }
    if (!indexFile.Truncate(0) || !WriteHead())
        return false;
    log.LogEvent(kError, "消息索引文件不完整(%u 字节),已另存为 %s,索引重建为空", static_cast<unsigned>(size),
                 badPath.c_str());
    return true;
}

// Keeps the records that are whole and whose bytes lie wholly inside the
// data file. Complete records beyond the count are adopted (a crash came
// between record and head); a torn record is cut off, and so are the last
// records whose bytes never reached the data file (a crash came between the
// index and the data), even when the index length agrees with its head.
void CMsgCache::RepairIndex(std::uint64_t size)
{
    std::uint64_t dataSize = 0;
    if (!dataFile.Size(dataSize))
        return;
    const std::uint64_t complete = (size - kHeadSize) / kRecordSize;
    const auto inFile = static_cast<std::uint32_t>(std::min<std::uint64_t>(complete, kMaxOffset));
    const std::uint32_t oldCount = head.count;
    const std::uint32_t whole = inFile <= oldCount ? inFile : AdoptableRecords(oldCount, inFile, dataSize);
    const std::uint32_t newCount = RecordsWithData(whole, dataSize);
    if (size == RecordPosition(oldCount) && newCount == oldCount)
        return;
    if (!indexFile.Truncate(RecordPosition(newCount)))
        LogFileError("修复消息索引文件失败", indexFile.LastError());
    head.count = newCount;
    WriteHead();
    log.LogEvent(kError, "消息索引文件长度与记录数不符,已修复:记录数 %u -> %u", static_cast<unsigned>(oldCount),
                 static_cast<unsigned>(newCount));
}

std::uint32_t CMsgCache::AdoptableRecords(std::uint32_t from, std::uint32_t upTo, std::uint64_t dataSize)
{
    std::uint32_t n = from;
    while (n < upTo && HasData(n, dataSize))
        ++n;
    return n;
}

// How many of the first `count` records remain once the last ones whose
// bytes pass the end of the data file are dropped.
std::uint32_t CMsgCache::RecordsWithData(std::uint32_t count, std::uint64_t dataSize)
{
    while (count > 0 && !HasData(count - 1, dataSize))
        --count;
    return count;
}

bool CMsgCache::HasData(std::uint32_t n, std::uint64_t dataSize)
{
    std::uint8_t raw[kRecordSize];
    if (!ReadRecord(n, raw))
        return false;
    const MSG_INDEX record = MSG_INDEX::Decode(raw);
    return std::uint64_t{record.offset} + record.length <= dataSize;
}

int CMsgCache::CountPending()
{
    return Guarded([&] { return ScanLocked(); });
}

int CMsgCache::ScanLocked()
{
    // Records handed out stay so: a rescan must not hand them out twice.
    pending.ForgetWaiting();
    pendingCount = 0;
    head.firstPending = 0;
    dataEnd = 0;
    if (!opened)
        return 0;
    std::vector<std::uint8_t> batch(std::size_t{kScanBatch} * kRecordSize);
    bool first = true;
    std::uint32_t start = 0;
    while (start < head.count) {
        const std::uint32_t records = std::min(kScanBatch, head.count - start);
        const std::size_t want = std::size_t{records} * kRecordSize;
        // What cannot be read counts as zeros: pending, with empty addresses.
        std::fill(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(want), 0);
        indexFile.ReadAt(RecordPosition(start), batch.data(), want);
        for (std::uint32_t i = 0; i < records; ++i) {
            const MSG_INDEX record = MSG_INDEX::Decode(batch.data() + std::size_t{i} * kRecordSize);
            dataEnd = std::max(dataEnd, std::uint64_t{record.offset} + record.length);
            if (!record.IsPending() || unmarked.count(start + i) != 0)
                continue;
            if (first)
                head.firstPending = start + i;
            first = false;
            ++pendingCount;
            pending.Add(start + i, record.targetUser, record.targetServer, {record.offset, record.length});
        }
        start += records;
    }
    return pendingCount;
}

int CMsgCache::ScannedPending() const
{
    std::lock_guard<std::mutex> guard(lock);
    return pendingCount;
}

bool CMsgCache::IsOpened() const
{
    std::lock_guard<std::mutex> guard(lock);
    return opened;
}

int CMsgCache::AddMsg(const char* bytes, std::size_t length, const std::string& sourceUser,
                      const std::string& sourceServer, const std::string& targetUser,
                      const std::string& targetServer)
{
    return Guarded([&] {
        if (!opened) {
            LogFileError("缓存消息写入失败", openError.empty() ? "消息缓存文件未打开" : openError);
            return 0;
        }
        if (!FitsField(targetUser, kUserIdField) || !FitsField(targetServer, kServerNameField)) {
            log.LogEvent(kError, "缓存消息目标地址过长,拒绝写入 target:%s@%s", targetUser.c_str(),
                         targetServer.c_str());
            return 0;
        }
        if (!TargetHasRoom(length, sourceUser, sourceServer, targetUser, targetServer))
            return 0;
        std::uint64_t offset = 0;
        if (!dataFile.Size(offset)) {
            LogFileError("缓存消息写入失败", dataFile.LastError());
            return 0;
        }
        // Never where a record claims bytes, even bytes the file lacks.
        offset = std::max(offset, dataEnd);
        if (!MakeRoom(offset, length))
            return 0;
        if (!dataFile.WriteAt(offset, bytes, length)) {
            LogFileError("缓存消息写入失败", dataFile.LastError());
            return 0;
        }
        MSG_INDEX record{CutToField(sourceUser, kUserIdField), CutToField(sourceServer, kServerNameField),
                         targetUser, targetServer, 0, static_cast<std::uint32_t>(offset),
                         static_cast<std::uint32_t>(length)};
        std::uint8_t raw[kRecordSize];
        record.Encode(raw);
        const std::uint32_t n = head.count;
        if (!indexFile.WriteAt(RecordPosition(n), raw, kRecordSize)) {
            LogFileError("缓存消息写入失败", indexFile.LastError());
            return 0;
        }
        // The record is in place; a head that fails to reach the disk is
        // mended by the repair at the next opening.
        head.count = n + 1;
        dataEnd = offset + length;
        WriteHead();
        pending.Add(n, targetUser, targetServer,
                    {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)});
        log.LogEvent(kInfo, "缓存消息写入长度:%d target:%s@%s", static_cast<int>(length), targetUser.c_str(),
                     targetServer.c_str());
        return 1;
    });
}

// One target's pending messages stay within their bounds, so one backlog
// never takes the space every other user's chat needs.
bool CMsgCache::TargetHasRoom(std::size_t length, const std::string& sourceUser, const std::string& sourceServer,
                              const std::string& targetUser, const std::string& targetServer)
{
    const CPendingIndex::Totals totals = pending.ForTarget(targetUser, targetServer);
    if (totals.messages < limits.targetPendingMessages && totals.bytes + length <= limits.targetPendingBytes)
        return true;
    if (counters)
        counters->CountRefused(totals.messages >= limits.targetPendingMessages ? "StoreTargetPendingMessages"
                                                                               : "StoreTargetPendingBytes");
    const std::string pair = sourceUser + '\0' + sourceServer + '\0' + targetUser + '\0' + targetServer;
    if (!refusalLines.Allow("target bound", pair))
        return false;
    log.LogEvent(kError, "目标用户待发消息超过上限,拒绝写入 source:%s@%s target:%s@%s 待发:%u 条 %llu 字节",
                 sourceUser.c_str(), sourceServer.c_str(), targetUser.c_str(), targetServer.c_str(),
                 static_cast<unsigned>(totals.messages), static_cast<unsigned long long>(totals.bytes));
    return false;
}

// A data file whose offsets would pass 4 GiB first reclaims its sent
// records, whatever the pending part costs to copy: else nothing more could
// be stored. False (logged) when that does not make room.
bool CMsgCache::MakeRoom(std::uint64_t& offset, std::size_t length)
{
    const bool countFull = head.count == std::numeric_limits<std::uint32_t>::max();
    if (offset <= kMaxOffset && length <= kMaxOffset && !countFull)
        return true;
    if (length <= kMaxOffset && pending.HandedOut() == 0 && pending.Bytes() + length <= kMaxOffset && Compact())
        offset = dataEnd;
    if (offset <= kMaxOffset && length <= kMaxOffset && head.count < std::numeric_limits<std::uint32_t>::max())
        return true;
    log.LogEvent(kError, "消息缓存文件已满,拒绝写入长度:%u", static_cast<unsigned>(std::min<std::size_t>(length, kMaxOffset)));
    return false;
}

// Reclaims the space of sent records once the data file is large and mostly
// sent, while no record is handed out (compaction renumbers records) and the
// pending part is small enough to copy under the lock.
void CMsgCache::CompactIfWorthIt()
{
    const std::uint64_t pendingBytes = pending.Bytes();
    if (opened && pending.HandedOut() == 0 && dataEnd >= limits.compactBytes && pendingBytes * 4 <= dataEnd &&
        pendingBytes <= limits.compactBytes)
        Compact();
}

bool CMsgCache::Compact()
{
    const auto started = std::chrono::steady_clock::now();
    const std::uint32_t oldCount = head.count;
    const std::uint64_t oldBytes = dataEnd;
    CCacheCompaction compaction(directory, faults.compactionStep);
    const CCacheCompaction::Result result = compaction.Run(indexFile, dataFile, pending.Records());
    if (result == CCacheCompaction::Result::Failed) {
        LogFileError("压缩消息缓存文件失败", compaction.Error());
        return false;
    }
    indexFile.Close();
    dataFile.Close();
    pending.Clear();
    unmarked.clear();
    if (result == CCacheCompaction::Result::Stopped) {
        opened = false; // as after a crash: the next opening puts the files right
        return false;
    }
    if (result == CCacheCompaction::Result::Broken)
        LogFileError("压缩消息缓存文件失败", compaction.Error());
    const int scanned = pendingCount; // the opening scan's count stays what it was
    opened = OpenFiles();
    ScanLocked();
    pendingCount = scanned;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    log.LogEvent(kInfo, "消息缓存已压缩:记录 %u -> %u,数据 %llu -> %llu 字节,用时 %lld 毫秒",
                 static_cast<unsigned>(oldCount), static_cast<unsigned>(head.count),
                 static_cast<unsigned long long>(oldBytes), static_cast<unsigned long long>(dataEnd),
                 static_cast<long long>(took.count()));
    return opened;
}

int CMsgCache::GetUserMsg(std::string& bytes, std::uint32_t& record, const std::string& userId,
                          const std::string& serverName)
{
    return Guarded([&] {
        return HandOut(opened ? pending.TakeFirstForUser(userId, serverName) : std::nullopt, bytes, record);
    });
}

int CMsgCache::GetUserMsgs(std::vector<StoredMsg>& out, const std::string& userId, const std::string& serverName,
                           std::size_t maxMessages, std::size_t maxBytes)
{
    return Guarded([&] {
        const std::size_t from = out.size();
        std::uint64_t bytes = 0;
        try {
            while (opened && out.size() - from < maxMessages && bytes < maxBytes) {
                const std::optional<std::uint32_t> n = pending.TakeFirstForUser(userId, serverName);
                if (!n)
                    break;
                out.push_back({*n, {}});
                bytes += pending.PlaceOf(*n).length;
            }
            ReadMessages(out, from);
        } catch (...) {
            for (std::size_t i = from; i < out.size(); ++i)
                pending.Release(out[i].record);
            out.resize(from);
            throw;
        }
        return static_cast<int>(out.size() - from);
    });
}

int CMsgCache::GetRouteMsg(std::string& bytes, std::uint32_t& record, const std::string& localServer)
{
    return Guarded([&] {
        return HandOut(opened ? pending.TakeFirstForRoute(localServer) : std::nullopt, bytes, record);
    });
}

// Reads the message of a record just handed out; a record whose message
// could not be read goes back to pending.
int CMsgCache::HandOut(std::optional<std::uint32_t> n, std::string& bytes, std::uint32_t& record)
{
    if (!n)
        return 0;
    try {
        return ReadMessage(*n, bytes, record);
    } catch (...) {
        pending.Release(*n);
        throw;
    }
}

// Hands out the message of record n. Bytes beyond the end of the data file
// are not invented: a cut message is handed out as far as it exists.
int CMsgCache::ReadMessage(std::uint32_t n, std::string& bytes, std::uint32_t& record)
{
    if (faults.beforeRead)
        faults.beforeRead();
    // The place comes from the record as kept in memory: one file read per
    // message. Only a length past kUncheckedRead is first held against the
    // data file's size, so a damaged length never allocates more than the
    // file holds.
    const CPendingIndex::Place place = pending.PlaceOf(n);
    std::uint64_t length = place.length;
    if (length > kUncheckedRead) {
        std::uint64_t dataSize = 0;
        dataFile.Size(dataSize);
        length = std::min<std::uint64_t>(length, place.offset < dataSize ? dataSize - place.offset : 0);
    }
    bytes.assign(static_cast<std::size_t>(length), '\0');
    bytes.resize(dataFile.ReadAt(place.offset, bytes.data(), bytes.size()));
    CheckReadLength(n, bytes.size());
    record = n;
    return 1;
}

// Reads the messages of the records just handed out in out[from...]: a run
// of short messages lying back to back in the data file (as a backlog for
// one user mostly does) with one read, any other message on its own.
void CMsgCache::ReadMessages(std::vector<StoredMsg>& out, std::size_t from)
{
    std::string run;
    for (std::size_t i = from; i < out.size();) {
        const CPendingIndex::Place first = pending.PlaceOf(out[i].record);
        std::uint64_t runEnd = std::uint64_t{first.offset} + first.length;
        std::size_t end = i + 1;
        while (first.length <= kUncheckedRead && end < out.size()) {
            const CPendingIndex::Place next = pending.PlaceOf(out[end].record);
            if (next.offset != runEnd || next.length > kUncheckedRead || runEnd - first.offset + next.length > kRunBytes)
                break;
            runEnd += next.length;
            ++end;
        }
        if (end == i + 1) {
            std::uint32_t record = 0;
            ReadMessage(out[i].record, out[i].bytes, record);
            ++i;
            continue;
        }
        for (std::size_t k = i; k < end; ++k)
            if (faults.beforeRead)
                faults.beforeRead();
        run.resize(static_cast<std::size_t>(runEnd - first.offset));
        const std::size_t read = dataFile.ReadAt(first.offset, run.data(), run.size());
        for (; i < end; ++i) {
            const CPendingIndex::Place place = pending.PlaceOf(out[i].record);
            const std::size_t begin = place.offset - first.offset;
            out[i].bytes.assign(run, begin, read > begin ? std::min<std::size_t>(place.length, read - begin) : 0);
            CheckReadLength(out[i].record, out[i].bytes.size());
        }
    }
}

// A message cut short by the end of the data file is logged.
void CMsgCache::CheckReadLength(std::uint32_t n, std::size_t read)
{
    const std::uint32_t length = pending.PlaceOf(n).length;
    if (read != length)
        log.LogEvent(kError, "缓存消息数据不完整,记录:%u 长度:%u 读到:%u", static_cast<unsigned>(n),
                     static_cast<unsigned>(length), static_cast<unsigned>(read));
}

int CMsgCache::SetMsgSent(std::uint32_t n)
{
    return Guarded([&] {
        if (!opened || n >= head.count || unmarked.count(n) != 0)
            return 0;
        const bool written = indexFile.SetByteAt(RecordPosition(n) + kSentAt, 1);
        pending.Remove(n);
        if (written) {
            CompactIfWorthIt();
            return 1;
        }
        unmarked.insert(n);
        log.LogEvent(kError, "标记缓存消息已发送失败,记录:%u 本次运行不再发送:%s", static_cast<unsigned>(n),
                     ErrorText(indexFile.LastError()).c_str());
        return 0;
    });
}

int CMsgCache::ReleaseMsg(std::uint32_t n)
{
    return Guarded([&] { return pending.Release(n) ? 1 : 0; });
}

bool CMsgCache::HasPendingFor(const std::string& userId, const std::string& serverName) const
{
    std::lock_guard<std::mutex> guard(lock);
    return pending.HasForUser(userId, serverName);
}

bool CMsgCache::HasPendingRoute(const std::string& localServer) const
{
    std::lock_guard<std::mutex> guard(lock);
    return pending.HasForRoute(localServer);
}

CMsgCache::Stats CMsgCache::GetStats(const std::string& localServer)
{
    std::lock_guard<std::mutex> guard(lock);
    Stats stats;
    stats.local = pending.ForServer(localServer);
    stats.other.messages = static_cast<std::uint32_t>(pending.Size()) - stats.local.messages;
    stats.other.bytes = pending.Bytes() - stats.local.bytes;
    if (opened) {
        indexFile.Size(stats.indexFileBytes);
        dataFile.Size(stats.dataFileBytes);
    }
    return stats;
}

void CMsgCache::CloseCache()
{
    std::lock_guard<std::mutex> guard(lock);
    indexFile.Close();
    dataFile.Close();
    pending.Clear();
    unmarked.clear();
    opened = false;
}

void CMsgCache::InjectFaults(Faults injected)
{
    std::lock_guard<std::mutex> guard(lock);
    faults = std::move(injected);
    indexFile.SetWriteFault(faults.indexWrite);
}

// Reads record n; what cannot be read is zeros. False on a short read.
bool CMsgCache::ReadRecord(std::uint32_t n, std::uint8_t* raw)
{
    std::fill(raw, raw + kRecordSize, 0);
    return indexFile.ReadAt(RecordPosition(n), raw, kRecordSize) == kRecordSize;
}

bool CMsgCache::WriteHead()
{
    std::uint8_t raw[kHeadSize];
    head.Encode(raw);
    if (indexFile.WriteAt(0, raw, kHeadSize))
        return true;
    LogFileError("写入消息索引文件头失败", indexFile.LastError());
    return false;
}

void CMsgCache::LogFileError(const char* what, const std::string& error)
{
    log.LogEvent(kError, "%s:%s", what, ErrorText(error).c_str());
}

} // namespace quorvel::store
