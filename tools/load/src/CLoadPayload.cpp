#include "CLoadPayload.h"

#include <marlune/CXmlMsg.h>

#include <charconv>

namespace quorvel::load {

using marlune::CMessageBase;
using marlune::CXmlMsg;

CLoadPayload::Template::Template(CMessageBase& message)
{
    const std::string built = CXmlMsg().BuildBytes(message);
    const auto target = built.find(TargetPlaceholder());
    if (target == std::string::npos)
        return;
    const auto mark = built.find(Placeholder(), target + TargetPlaceholder().size());
    if (mark == std::string::npos)
        return;
    head_ = built.substr(0, target);
    middle_ = built.substr(target + TargetPlaceholder().size(), mark - target - TargetPlaceholder().size());
    tail_ = built.substr(mark + Placeholder().size());
    valid_ = true;
}

void CLoadPayload::Template::AppendTo(std::string& out, std::string_view target, const Mark& mark) const
{
    out += head_;
    out += target;
    out += middle_;
    AppendMark(out, mark);
    out += tail_;
}

std::string CLoadPayload::Template::With(std::string_view target, const Mark& mark) const
{
    std::string out;
    out.reserve(head_.size() + middle_.size() + tail_.size() + target.size() + 48);
    AppendTo(out, target, mark);
    return out;
}

namespace {

void AppendNumber(std::string& out, char letter, std::uint64_t value)
{
    char digits[24];
    digits[0] = letter;
    auto result = std::to_chars(digits + 1, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// Reads `letter` and the decimal number after it at text[at]; advances at.
bool ReadNumber(std::string_view text, std::size_t& at, char letter, std::uint64_t& value)
{
    if (at >= text.size() || text[at] != letter)
        return false;
    ++at;
    auto result = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr == text.data() + at)
        return false;
    at = static_cast<std::size_t>(result.ptr - text.data());
    return true;
}

} // namespace

void CLoadPayload::AppendMark(std::string& out, const Mark& mark)
{
    AppendNumber(out, 'F', mark.sender);
    AppendNumber(out, 'S', mark.seq);
    AppendNumber(out, 'T', mark.micros);
}

bool CLoadPayload::ReadMark(std::string_view payload, Mark& mark)
{
    const auto body = payload.find("<body");
    if (body == std::string_view::npos)
        return false;
    const auto close = payload.find('>', body);
    if (close == std::string_view::npos || payload[close - 1] == '/')
        return false;
    std::size_t at = close + 1;
    std::uint64_t sender = 0;
    if (!ReadNumber(payload, at, 'F', sender) || !ReadNumber(payload, at, 'S', mark.seq) ||
        !ReadNumber(payload, at, 'T', mark.micros) || sender > 0xffffffffu)
        return false;
    mark.sender = static_cast<std::uint32_t>(sender);
    return true;
}

std::string_view CLoadPayload::Attribute(std::string_view payload, std::string_view name, std::size_t from)
{
    std::string key;
    key.reserve(name.size() + 3);
    key.append(" ").append(name).append("=\"");
    const auto at = payload.find(key, from);
    if (at == std::string_view::npos)
        return {};
    const auto begin = at + key.size();
    const auto end = payload.find('"', begin);
    if (end == std::string_view::npos)
        return {};
    return payload.substr(begin, end - begin);
}

std::string_view CLoadPayload::TypeOf(std::string_view payload)
{
    const auto root = payload.find("<msg");
    if (root == std::string_view::npos)
        return {};
    return Attribute(payload, "type", root);
}

std::string_view CLoadPayload::LastRoutedServer(std::string_view payload)
{
    const auto open = payload.find("<routed>");
    const auto close = payload.find("</routed>");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return {};
    const auto list = payload.substr(open, close - open);
    const auto last = list.rfind(" name=\"");
    if (last == std::string_view::npos)
        return {};
    return Attribute(list, "name", last);
}

} // namespace quorvel::load
