#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {
class CMyRASSocket;
}

namespace quorvel::service {

// Which connections are bound to which user: the connections' userId fields
// kept as an index, so a delivery to a user, a friend notice or a login
// costs that user's connections and not every connection of the server.
//
// The index owns the binding: Bind writes a connection's userId field and
// Unbind clears it, so the two never disagree. A connection must be unbound
// before it is destroyed (the service does it when the connection closes,
// which the listening server reports before it destroys a connection).
// Threads: the service's loop thread only.
class CUserConnections {
public:
    using List = std::vector<corvane::CMyRASSocket*>;

    // Binds socket to userId, replacing any earlier binding of the socket,
    // and writes its userId field. False (and nothing changed) when userId is
    // empty or does not fit the field.
    bool Bind(corvane::CMyRASSocket& socket, std::string_view userId);
    // Drops the socket's binding and clears its userId field; returns the id
    // it was bound to ("" when none).
    std::string Unbind(corvane::CMyRASSocket& socket);

    // The connections bound to userId in the order they were accepted; empty
    // when none.
    const List& Of(std::string_view userId) const;
    // Every bound user with its connections, in no particular order.
    template <class Visit>
    void ForEachUser(Visit&& visit) const
    {
        for (const auto& [userId, list] : byUser_)
            visit(userId, list);
    }
    // How many users have a bound connection.
    std::size_t UserCount() const { return byUser_.size(); }

private:
    struct IdHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view id) const { return std::hash<std::string_view>{}(id); }
    };

    void Remove(corvane::CMyRASSocket& socket, std::string_view userId);

    std::unordered_map<std::string, List, IdHash, std::equal_to<>> byUser_;
};

} // namespace quorvel::service
