#include "quorvel_store/CMsgCache.h"
#include "CacheTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using quorvel::store::CMsgCache;

namespace {

// The lookups as a plain scan of every record in file order, skipping those
// handed out: the in-memory pending records must give the same record.
struct ScanModel {
    struct Entry {
        std::string user;
        std::string server;
        std::string body;
        bool sent = false;
        bool out = false;
    };

    std::optional<std::uint32_t> User(const std::string& user, const std::string& server) const
    {
        for (std::size_t n = 0; n < entries.size(); ++n)
            if (!entries[n].sent && !entries[n].out && entries[n].user == user && entries[n].server == server)
                return static_cast<std::uint32_t>(n);
        return std::nullopt;
    }

    std::optional<std::uint32_t> Route(const std::string& local) const
    {
        for (std::size_t n = 0; n < entries.size(); ++n)
            if (!entries[n].sent && !entries[n].out && entries[n].server != local)
                return static_cast<std::uint32_t>(n);
        return std::nullopt;
    }

    int Pending() const
    {
        int count = 0;
        for (const auto& entry : entries)
            count += entry.sent ? 0 : 1;
        return count;
    }

    std::vector<Entry> entries;
};

void Expect(int found, const std::string& bytes, std::uint32_t record, const std::optional<std::uint32_t>& want,
            const ScanModel& model)
{
    ASSERT_EQ(found, want ? 1 : 0);
    if (want) {
        ASSERT_EQ(record, *want);
        ASSERT_EQ(bytes, model.entries[*want].body);
    }
}

// A record just handed out is marked sent, released, or left handed out.
void Settle(CMsgCache& cache, ScanModel& model, std::uint32_t record, unsigned choice)
{
    model.entries[record].out = true;
    if (choice == 1) {
        ASSERT_EQ(cache.SetMsgSent(record), 1);
        model.entries[record].sent = true;
        model.entries[record].out = false;
    } else if (choice == 2) {
        ASSERT_EQ(cache.ReleaseMsg(record), 1);
        model.entries[record].out = false;
    }
}

TEST(MsgCacheModelTest, LookupsReturnWhatAScanOfTheFileWouldReturn)
{
    CacheTestFolder folder;
    auto cache = std::make_unique<CMsgCache>(folder.Log());
    cache->OpenCache(folder.Path());
    ScanModel model;
    std::mt19937 random(20261207);
    const std::vector<std::string> users{"a", "b", "B", "c"};
    const std::vector<std::string> servers{"home", "far", "", "next"};
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };

    for (int step = 0; step < 4000; ++step) {
        const unsigned op = random() % 100;
        std::string bytes;
        std::uint32_t record = 0;
        if (op < 40) {
            ScanModel::Entry entry{pick(users), pick(servers), "msg" + std::to_string(step), false};
            ASSERT_EQ(cache->AddMsg(entry.body.data(), entry.body.size(), "s", "home", entry.user, entry.server), 1);
            model.entries.push_back(entry);
        } else if (op < 70) {
            const std::string user = pick(users);
            const std::string server = pick(servers);
            const int found = cache->GetUserMsg(bytes, record, user, server);
            Expect(found, bytes, record, model.User(user, server), model);
            if (found)
                Settle(*cache, model, record, random() % 3);
        } else if (op < 90) {
            const std::string local = pick(servers);
            const int found = cache->GetRouteMsg(bytes, record, local);
            Expect(found, bytes, record, model.Route(local), model);
            if (found)
                Settle(*cache, model, record, random() % 3);
        } else if (op < 97) {
            if (model.entries.empty())
                continue;
            const auto n = static_cast<std::uint32_t>(random() % model.entries.size());
            ASSERT_EQ(cache->SetMsgSent(n), 1);
            model.entries[n].sent = true;
            model.entries[n].out = false;
        } else {
            for (auto& entry : model.entries)
                entry.out = false;
            cache = std::make_unique<CMsgCache>(folder.Log());
            cache->OpenCache(folder.Path());
            ASSERT_EQ(cache->ScannedPending(), model.Pending());
        }
    }
    EXPECT_EQ(cache->CountPending(), model.Pending());
}

} // namespace
