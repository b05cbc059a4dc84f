#include "quorvel_store/CCacheCompaction.h"

#include "quorvel_store/MsgIndexLayout.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quorvel::store {

using namespace MsgIndexLayout;

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

struct Paths {
    explicit Paths(const std::string& directory)
        : index(directory + "/msg_index.dat"), data(directory + "/msg_data.dat"),
          newIndex(index + ".new"), newData(data + ".new"), marker(directory + "/msg_compact.commit")
    {
    }
    std::string index;
    std::string data;
    std::string newIndex;
    std::string newData;
    std::string marker;
};

// Makes renames and removals in the folder durable.
bool SyncFolder(const std::string& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool Rename(const std::string& from, const std::string& to, std::string& error)
{
    std::error_code code;
    std::filesystem::rename(from, to, code);
    if (code)
        error = from + ": rename: " + code.message();
    return !code;
}

void Remove(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

bool Exists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

} // namespace

CCacheCompaction::CCacheCompaction(const std::string& dir, StepHook stepHook)
    : directory(dir), hook(std::move(stepHook))
{
}

CCacheCompaction::Result CCacheCompaction::Run(CCacheFile& index, CCacheFile& data,
                                               const std::vector<std::uint32_t>& records)
{
    const Paths paths(directory);
    if (!WriteNewPair(index, data, records)) {
        Remove(paths.newIndex);
        Remove(paths.newData);
        return Result::Failed;
    }
    return Commit();
}

bool CCacheCompaction::WriteNewPair(CCacheFile& index, CCacheFile& data, const std::vector<std::uint32_t>& records)
{
    const Paths paths(directory);
    CCacheFile newIndex;
    CCacheFile newData;
    if (!newIndex.Open(paths.newIndex) || !newIndex.Truncate(0))
        return Fail(newIndex.LastError());
    if (!newData.Open(paths.newData) || !newData.Truncate(0))
        return Fail(newData.LastError());
    std::vector<std::uint8_t> image(RecordPosition(records.size()), 0);
    MSG_INDEX_HEAD{static_cast<std::uint32_t>(records.size()), 0}.Encode(image.data());
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (!CopyRecord(index, data, records[i], static_cast<std::uint32_t>(i), newData, offset, image))
            return false;
    if (!newIndex.WriteAt(0, image.data(), image.size()) || !newIndex.Sync())
        return Fail(newIndex.LastError());
    if (!newData.Sync())
        return Fail(newData.LastError());
    return true;
}

// Copies record n and its bytes as record `at` of the new pair. A message cut
// short in the old data file keeps the bytes it has.
bool CCacheCompaction::CopyRecord(CCacheFile& index, CCacheFile& data, std::uint32_t n, std::uint32_t at,
                                  CCacheFile& newData, std::uint64_t& newOffset, std::vector<std::uint8_t>& image)
{
    std::uint8_t raw[kRecordSize];
    if (index.ReadAt(RecordPosition(n), raw, kRecordSize) != kRecordSize)
        return Fail(index.LastError().empty() ? "record cut short" : index.LastError());
    MSG_INDEX record = MSG_INDEX::Decode(raw);
    std::vector<char> chunk(std::min<std::size_t>(record.length, kCopyChunk));
    std::uint32_t copied = 0;
    while (copied < record.length) {
        const std::size_t want = std::min<std::size_t>(record.length - copied, chunk.size());
        const std::size_t got = data.ReadAt(std::uint64_t{record.offset} + copied, chunk.data(), want);
        if (got > 0 && !newData.WriteAt(newOffset + copied, chunk.data(), got))
            return Fail(newData.LastError());
        copied += static_cast<std::uint32_t>(got);
        if (got < want)
            break;
    }
    record.offset = static_cast<std::uint32_t>(newOffset);
    record.length = copied;
    record.Encode(image.data() + RecordPosition(at));
    newOffset += copied;
    return true;
}

CCacheCompaction::Result CCacheCompaction::Commit()
{
    const Paths paths(directory);
    if (!Step("written"))
        return Result::Stopped;
    CCacheFile marker;
    const char mark = '1';
    if (!marker.Open(paths.marker) || !marker.WriteAt(0, &mark, 1) || !marker.Sync() || !SyncFolder(directory)) {
        Fail(marker.LastError().empty() ? directory + ": sync" : marker.LastError());
        marker.Close();
        Remove(paths.marker);
        Remove(paths.newIndex);
        Remove(paths.newData);
        return Result::Failed;
    }
    marker.Close();
    if (!Step("marked"))
        return Result::Stopped;
    if (!Rename(paths.newIndex, paths.index, error))
        return Result::Broken;
    if (!Step("index-renamed"))
        return Result::Stopped;
    if (!Rename(paths.newData, paths.data, error))
        return Result::Broken;
    SyncFolder(directory);
    if (!Step("data-renamed"))
        return Result::Stopped;
    Remove(paths.marker);
    SyncFolder(directory);
    return Result::Done;
}

bool CCacheCompaction::Recover(const std::string& dir, std::string& line)
{
    const Paths paths(dir);
    line.clear();
    if (!Exists(paths.marker)) {
        if (!Exists(paths.newIndex) && !Exists(paths.newData))
            return true;
        Remove(paths.newIndex);
        Remove(paths.newData);
        line = "已丢弃未完成的消息缓存压缩文件";
        return true;
    }
    std::string error;
    for (const auto& [from, to] : {std::pair{paths.newIndex, paths.index}, std::pair{paths.newData, paths.data}}) {
        if (Exists(from) && !Rename(from, to, error)) {
            line = "完成中断的消息缓存压缩失败:" + error;
            return false;
        }
    }
    SyncFolder(dir);
    Remove(paths.marker);
    SyncFolder(dir);
    line = "中断的消息缓存压缩已完成";
    return true;
}

bool CCacheCompaction::Fail(const std::string& what)
{
    error = what;
    return false;
}

} // namespace quorvel::store
