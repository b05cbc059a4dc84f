#include "marlune/CTalker.h"

#include <algorithm>
#include <exception>

namespace marlune {

bool CTalker::HasFriend(std::string_view id) const
{
    if (id.empty()) {
        return false;
    }
    std::string_view rest = friends;
    while (!rest.empty()) {
        const std::size_t cut = rest.find('/');
        if (rest.substr(0, cut) == id) {
            return true;
        }
        if (cut == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(cut + 1);
    }
    return false;
}

std::size_t CTalker::FriendCount() const
{
    if (friends.empty())
        return 0;
    return static_cast<std::size_t>(std::count(friends.begin(), friends.end(), '/')) + 1;
}

bool CTalker::AddFriend(std::string_view id)
{
    // A friendship recorded again (an accepted request offered twice) must
    // not grow the list.
    if (id.empty() || HasFriend(id)) {
        return false;
    }
    try {
        if (!friends.empty()) {
            friends += '/';
        }
        friends += id;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace marlune
