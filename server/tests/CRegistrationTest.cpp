#include "ServiceTestSupport.h"

#include "marlune/Marlune.h"

#include <gtest/gtest.h>

using marlune::CMessageChangeStatu;
using marlune::CMessageUserReg;

namespace {

const std::string kExists = "用户账号已经存在!";
const std::string kBadChars = "用户账号不能包含 ' ~ ! # $ % ^ & *'等特殊字符!";
const std::string kReserved = "用户帐号不能包含特殊单词!";
const std::string kTooLong = "用户账号或姓名太长!";
const std::string kEmpty = "用户账号不能为空!";
// The longest id the message store holds (39 bytes and a terminator).
const std::string kLongestId(39, 'x');

class Registration : public ::testing::Test {
protected:
    Registration() : client(fixture.Port())
    {
        fixture.AddUser("alice", "a-pw", "Alice");
    }

    // Sends a registration and returns the reply (result, error).
    std::pair<std::string, std::string> Register(const std::string& userId, const std::string& name = "Name",
                                                 bool modify = false)
    {
        CMessageUserReg reg;
        reg.type = CMessageUserReg::kType;
        reg.userId = userId;
        reg.name = name;
        reg.sex = "f";
        reg.password = "new-pw";
        reg.tel = "555";
        reg.modify = modify ? "true" : "";
        if (!client.Send(reg))
            return {"<not sent>", ""};
        auto reply = client.ReceiveAs<CMessageUserReg>();
        if (!reply)
            return {"<no reply>", ""};
        return {reply->result, reply->error};
    }

    ServiceFixture fixture;
    TestClient client;
};

} // namespace

TEST_F(Registration, ReservedIdsAreRefusedInAnyCaseButOneMoreLetterPasses)
{
    for (const char* id : {"admin", "Service", "SERVER", "gRoUp", "meeting", "brantlex", "Norvex"}) {
        EXPECT_EQ(Register(id), std::make_pair(std::string("failed"), kReserved)) << id;
        EXPECT_FALSE(fixture.Find(id)) << id;
    }
    EXPECT_EQ(Register("admin1").first, "success");
    EXPECT_EQ(Register("Groups").first, "success");
    // Every registration saves, refused or not.
    EXPECT_EQ(fixture.configSaves, 9);
}

TEST_F(Registration, NewUserIsCreatedOnThisServer)
{
    EXPECT_EQ(Register("carol", "Carol").first, "success");
    auto carol = fixture.Find("carol");
    ASSERT_TRUE(carol);
    EXPECT_EQ(carol->name, "Carol");
    EXPECT_EQ(carol->password, "new-pw");
    EXPECT_EQ(carol->tel, "555");
    EXPECT_EQ(carol->sex, "f");
    EXPECT_EQ(carol->serverName, "hub");
    EXPECT_EQ(ServiceLogLines::Count("用户 carol Carol 注册信息 success !"), 1);
}

TEST_F(Registration, SpecialCharactersAreRefusedDollarAndSlashIncluded)
{
    // "/" separates a friend list: "x/y" as a friend would split in two.
    for (const char* id : {"a$b", "a~", "x@hub", "a#", "a%", "a^b", "a&b", "a*b", "!a", "x/y", "/"}) {
        EXPECT_EQ(Register(id), std::make_pair(std::string("failed"), kBadChars)) << id;
        EXPECT_FALSE(fixture.Find(id)) << id;
    }
}

TEST_F(Registration, TheEmptyIdIsRefusedAlsoAsAChange)
{
    EXPECT_EQ(Register(""), std::make_pair(std::string("failed"), kEmpty));
    EXPECT_EQ(Register("", "Name", true), std::make_pair(std::string("failed"), kEmpty));
    EXPECT_FALSE(fixture.Find(""));
}

TEST_F(Registration, IdsTooLongForTheStoreAndNamesTooLongForAConnectionAreRefused)
{
    EXPECT_EQ(Register(kLongestId + "x"), std::make_pair(std::string("failed"), kTooLong));
    EXPECT_FALSE(fixture.Find(kLongestId + "x"));
    EXPECT_EQ(Register("carol", std::string(100, 'n')), std::make_pair(std::string("failed"), kTooLong));
    EXPECT_EQ(Register(kLongestId, std::string(99, 'n')).first, "success");
}

TEST_F(Registration, ExistingIdIsRefusedAndLeftUntouched)
{
    EXPECT_EQ(Register("alice", "Other"), std::make_pair(std::string("failed"), kExists));
    EXPECT_EQ(fixture.Find("alice")->name, "Alice");
    EXPECT_EQ(fixture.Find("alice")->password, "a-pw");
}

TEST_F(Registration, TheLastFailingCheckGivesTheText)
{
    fixture.AddUser("admin", "x");
    EXPECT_EQ(Register("admin"), std::make_pair(std::string("failed"), kReserved));
    fixture.AddUser("a$", "x");
    EXPECT_EQ(Register("a$"), std::make_pair(std::string("failed"), kBadChars));
    // The length check comes after the character and existence checks.
    EXPECT_EQ(Register(kLongestId + "@"), std::make_pair(std::string("failed"), kTooLong));
    fixture.AddUser(kLongestId + "y", "x");
    EXPECT_EQ(Register(kLongestId + "y"), std::make_pair(std::string("failed"), kTooLong));
}

TEST_F(Registration, ModifyOverwritesOrCreates)
{
    EXPECT_EQ(Register("alice", "Alice II", true).first, "success");
    auto alice = fixture.Find("alice");
    EXPECT_EQ(alice->name, "Alice II");
    EXPECT_EQ(alice->password, "new-pw");

    EXPECT_EQ(Register("dave", "Dave", true).first, "success");
    EXPECT_TRUE(fixture.Find("dave@hub"));
    EXPECT_EQ(ServiceLogLines::Count("用户 dave Dave 修改信息 success !"), 1);
}

TEST_F(Registration, ModifyOfANeighboursUserWritesIntoTheNeighbourRecord)
{
    fixture.AddNeighbor("far", {MakeTalker("nina", "far", "Nina", "n-pw")});
    EXPECT_EQ(Register("nina", "Nina").first, "failed");
    EXPECT_EQ(Register("nina", "Nina II", true).first, "success");

    auto nina = fixture.Find("nina@far");
    ASSERT_TRUE(nina);
    EXPECT_EQ(nina->name, "Nina II");
    EXPECT_EQ(nina->serverName, "hub");
    EXPECT_FALSE(fixture.Find("nina@hub"));
}

TEST_F(Registration, ProfileFieldsLongerThanKeptAreRefusedWholeAndStatusTextsAreCut)
{
    auto reg = [this](const std::string& userId, const std::string& sex, const std::string& tel) {
        CMessageUserReg message;
        message.type = CMessageUserReg::kType;
        message.userId = userId;
        message.name = "Name";
        message.sex = sex;
        message.tel = tel;
        message.password = "pw";
        auto reply = client.Send(message) ? client.ReceiveAs<CMessageUserReg>() : nullptr;
        return reply ? reply->result + "|" + reply->error : std::string("<no reply>");
    };
    EXPECT_EQ(reg("carol", std::string(17, 's'), "555"), "failed|用户资料太长!");
    EXPECT_EQ(reg("carol", "f", std::string(33, '5')), "failed|用户资料太长!");
    EXPECT_FALSE(fixture.Find("carol"));
    EXPECT_EQ(reg("carol", std::string(16, 's'), std::string(32, '5')), "success|");

    // A status is cut at 64 bytes, never inside a two-byte character: 63
    // ASCII bytes and one GBK character (0xC4 0xE3) keep only the 63 bytes.
    CMessageChangeStatu change;
    change.type = CMessageChangeStatu::kType;
    change.userId = "alice";
    change.server = "hub";
    change.statu = std::string(63, 'o') + "\xC4\xE3" + std::string(1000, 'o');
    ASSERT_TRUE(client.Send(change));
    ASSERT_TRUE(client.Sync());
    EXPECT_EQ(fixture.Find("alice")->statu, std::string(63, 'o'));
    change.statu = "away";
    ASSERT_TRUE(client.Send(change));
    ASSERT_TRUE(client.Sync());
    EXPECT_EQ(fixture.Find("alice")->statu, "away");
}
