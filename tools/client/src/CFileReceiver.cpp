#include "quorvel_client/CFileReceiver.h"

#include "quorvel_client/CBase64.h"

#include <marlune/CMessageTransFile.h>
#include <marlune/CXmlMsg.h>

#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace quorvel::client {

using marlune::CMessageTransFile;
using marlune::CXmlMsg;

namespace {

bool ParseCount(std::string_view text, std::uint64_t& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool WriteAll(int fd, const std::string& bytes, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

CFileReceiver::CFileReceiver(std::filesystem::path folder) : folder_(std::move(folder)) {}

CFileReceiver::~CFileReceiver()
{
    while (!transfers_.empty())
        Drop(transfers_.begin()->first);
}

std::string CFileReceiver::SafeName(std::string_view utf8Name)
{
    const auto slash = utf8Name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        utf8Name.remove_prefix(slash + 1);
    if (utf8Name.empty() || utf8Name == "." || utf8Name == "..")
        return {};
    for (char c : utf8Name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return {};
    }
    return std::string(utf8Name);
}

CFileReceiver::Outcome CFileReceiver::Refuse(std::string detail) const
{
    Outcome outcome;
    outcome.status = Status::kRefused;
    outcome.detail = std::move(detail);
    return outcome;
}

CFileReceiver::Outcome CFileReceiver::Accept(const CMessageTransFile& chunk)
{
    const std::string name = SafeName(CXmlMsg::g2u(chunk.file));
    if (name.empty())
        return Refuse("unusable file name");
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    if (!ParseCount(chunk.size, size) || !ParseCount(chunk.offset, offset) || size > kMaxFileSize)
        return Refuse("bad size or offset");
    std::string bytes;
    if (!CBase64::Decode(chunk.data, bytes))
        return Refuse("chunk is not base64");
    if (offset > size || bytes.size() > size - offset)
        return Refuse("chunk lies beyond the announced size");

    const std::string key = chunk.source + '\n' + name;
    auto found = transfers_.find(key);
    Transfer* transfer = found == transfers_.end() ? nullptr : &found->second;
    if (transfer != nullptr && transfer->size != size) {
        Drop(key);
        transfer = nullptr;
    }
    if (transfer == nullptr) {
        std::string error;
        transfer = Start(key, name, size, error);
        if (transfer == nullptr)
            return Refuse(error);
    }
    Outcome outcome;
    outcome.size = size;
    if (transfer->chunks.count(offset) != 0) {
        outcome.status = Status::kIgnored;
        return outcome;
    }
    if (Overlaps(*transfer, offset, bytes.size()))
        return Refuse("chunk overlaps bytes already received");
    if (!WriteAll(transfer->fd, bytes, offset)) {
        Drop(key);
        return Refuse("cannot write " + name + ".part");
    }
    transfer->chunks[offset] = bytes.size();
    transfer->received += bytes.size();
    if (transfer->received >= transfer->size)
        return Finish(key);
    outcome.status = Status::kStored;
    return outcome;
}

bool CFileReceiver::Overlaps(const Transfer& transfer, std::uint64_t offset, std::size_t length)
{
    auto next = transfer.chunks.lower_bound(offset);
    if (next != transfer.chunks.end() && next->first < offset + length)
        return true;
    if (next == transfer.chunks.begin())
        return false;
    --next;
    return next->first + next->second > offset;
}

CFileReceiver::Transfer* CFileReceiver::Start(const std::string& key, const std::string& name, std::uint64_t size,
                                              std::string& error)
{
    if (transfers_.size() >= kMaxTransfers) {
        error = "too many transfers at once";
        return nullptr;
    }
    Transfer transfer;
    transfer.name = name;
    transfer.size = size;
    for (int n = 0; n < 1000 && transfer.fd < 0; ++n) {
        const std::string suffix = n == 0 ? ".part" : "." + std::to_string(n) + ".part";
        transfer.part = folder_ / (name + suffix);
        transfer.fd = ::open(transfer.part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (transfer.fd < 0 && errno != EEXIST)
            break;
    }
    if (transfer.fd < 0) {
        error = "cannot create a part file for " + name;
        return nullptr;
    }
    return &transfers_.emplace(key, std::move(transfer)).first->second;
}

CFileReceiver::Outcome CFileReceiver::Finish(const std::string& key)
{
    Transfer& transfer = transfers_.at(key);
    Outcome outcome;
    outcome.size = transfer.size;
    ::close(transfer.fd);
    transfer.fd = -1;
    for (int n = 0; n < 1000; ++n) {
        const std::string suffix = n == 0 ? "" : "." + std::to_string(n);
        const std::filesystem::path target = folder_ / (transfer.name + suffix);
        // link() fails when the target exists, so no file is ever replaced.
        if (::link(transfer.part.c_str(), target.c_str()) == 0) {
            outcome.status = Status::kSaved;
            outcome.saved = target;
            break;
        }
        if (errno != EEXIST)
            break;
    }
    if (outcome.status != Status::kSaved)
        outcome.detail = "cannot name the received file " + transfer.name;
    Drop(key);
    return outcome;
}

void CFileReceiver::Drop(const std::string& key)
{
    auto found = transfers_.find(key);
    if (found == transfers_.end())
        return;
    if (found->second.fd >= 0)
        ::close(found->second.fd);
    ::unlink(found->second.part.c_str());
    transfers_.erase(found);
}

} // namespace quorvel::client
