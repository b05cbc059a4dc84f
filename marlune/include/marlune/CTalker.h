#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace marlune {

// One user: the record kept in a server's registry and carried in messages.
// Every text is GBK. A plain value: copy it by assignment.
// Not synchronised: one thread at a time may use an object.
class CTalker {
public:
    std::string userId;
    std::string name;
    std::string sex;
    std::string tel;
    std::string password;
    std::string statu;
    std::string friends;      // friend addresses joined by "/"
    std::string serverName;   // home server name
    std::string serverDesc;   // home server description
    std::string memo;         // a personal note; carried in messages only

    // Appends a friend address to `friends`, joined by "/". An empty id, or
    // one the list already holds as a whole item, is not added (false).
    bool AddFriend(std::string_view id);

    // True when `friends` holds `id` as a whole item.
    bool HasFriend(std::string_view id) const;
    // How many items `friends` holds (0 when it is empty).
    std::size_t FriendCount() const;
};

} // namespace marlune
