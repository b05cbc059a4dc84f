#include "quorvel_directory/CServerXml.h"
#include "CacheTestSupport.h"
#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using marlune::CTalker;
using marlune::CTalkerServer;
using quorvel::directory::CServerXml;
using quorvel::testsupport::TempFolder;

namespace {

using ServerList = CServerXml::ServerList;

// What a load fills: this server and the two lists.
struct Directory {
    CTalkerServer local;
    ServerList neighbors;
    ServerList routeServers;
};

CTalker MakeTalker(const std::string& id, const std::string& name, const std::string& friends)
{
    CTalker talker;
    talker.userId = id;
    talker.name = name;
    talker.sex = "女";
    talker.tel = "555-" + id;
    talker.password = "pw-" + id;
    talker.statu = "online";
    talker.friends = friends;
    return talker;
}

std::unique_ptr<CTalkerServer> MakeServer(const std::string& name, const std::string& port)
{
    auto server = std::make_unique<CTalkerServer>();
    server->name = name;
    server->ip = "127.0.0.1";
    server->port = port;
    server->description = name + " 服务器";
    return server;
}

std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

// Every stored field but the status, which the file never gives back.
void ExpectSameUsers(const CTalkerServer& loaded, const CTalkerServer& saved)
{
    ASSERT_EQ(loaded.Talkers().size(), saved.Talkers().size()) << saved.name;
    for (std::size_t i = 0; i < saved.Talkers().size(); ++i) {
        const CTalker& in = *loaded.Talkers()[i];
        const CTalker& out = *saved.Talkers()[i];
        EXPECT_EQ(in.userId, out.userId);
        EXPECT_EQ(in.name, out.name);
        EXPECT_EQ(in.sex, out.sex);
        EXPECT_EQ(in.tel, out.tel);
        EXPECT_EQ(in.password, out.password);
        EXPECT_EQ(in.friends, out.friends);
        EXPECT_EQ(in.statu, "");
        EXPECT_EQ(in.serverName, saved.name);
        EXPECT_EQ(in.serverDesc, saved.description);
    }
}

void ExpectSameServer(const CTalkerServer& loaded, const CTalkerServer& saved)
{
    EXPECT_EQ(loaded.name, saved.name);
    EXPECT_EQ(loaded.ip, saved.ip);
    EXPECT_EQ(loaded.port, saved.port);
    EXPECT_EQ(loaded.description, saved.description);
}

class CServerXmlTest : public ::testing::Test {
protected:
    int Load(const std::string& path, Directory& into)
    {
        return CServerXml(folder_.Log()).LoadConfig(path, into.local, into.neighbors, into.routeServers);
    }
    int Save(const std::string& path, const Directory& from)
    {
        return CServerXml(folder_.Log()).SaveConfig(path, from.local, from.neighbors, from.routeServers);
    }
    // Loads `xml` written as the directory file.
    Directory LoadText(const std::string& xml)
    {
        TempFolder::Write(path_, xml);
        Directory loaded;
        EXPECT_EQ(Load(path_, loaded), 1);
        return loaded;
    }

    CacheTestFolder folder_;
    std::string path_ = folder_.File("server.xml");
};

TEST_F(CServerXmlTest, WriteThenReadGivesBackEverythingButStatus)
{
    Directory saved;
    saved.local.name = "hub";
    saved.local.ip = "10.0.0.1";
    saved.local.port = "8801";
    saved.local.description = "总部 & <main> \"quoted\"\r\n\tline two";
    saved.local.AddTalker(MakeTalker("alice", "张三", "bob@hub/carol@east"));
    saved.local.AddTalker(MakeTalker("bob", "李四 <&>", ""));
    saved.neighbors.push_back(MakeServer("east", "8802"));
    saved.neighbors[0]->AddTalker(MakeTalker("carol", "王五", "alice@hub"));
    saved.neighbors.push_back(MakeServer("west", "8803"));
    saved.routeServers.push_back(MakeServer("relay", "8804"));
    saved.routeServers[0]->AddTalker(MakeTalker("ghost", "not written", ""));
    ASSERT_EQ(Save(path_, saved), 1);

    Directory loaded;
    loaded.neighbors.push_back(MakeServer("stale", "1"));
    ASSERT_EQ(Load(path_, loaded), 1);
    ExpectSameServer(loaded.local, saved.local);
    ExpectSameUsers(loaded.local, saved.local);
    ASSERT_EQ(loaded.neighbors.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        ExpectSameServer(*loaded.neighbors[i], *saved.neighbors[i]);
        ExpectSameUsers(*loaded.neighbors[i], *saved.neighbors[i]);
    }
    ASSERT_EQ(loaded.routeServers.size(), 1u);
    ExpectSameServer(*loaded.routeServers[0], *saved.routeServers[0]);
    EXPECT_TRUE(loaded.routeServers[0]->Talkers().empty());

    // Attribute order, element order, the status on file, text as UTF-8.
    const std::string file = TempFolder::Read(path_);
    EXPECT_NE(file.find("<talker userid=\"alice\" name=\"" + Utf8(u8"张三")
                        + "\" sex=\"" + Utf8(u8"女")
                        + "\" tel=\"555-alice\" password=\"pw-alice\" friends=\"bob@hub/carol@east\" statu=\"online\"/>"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("<server name=\"relay\" ip=\"127.0.0.1\" port=\"8804\" description=\"relay "
                        + Utf8(u8"服务器") + "\"/>"),
              std::string::npos);
    EXPECT_EQ(file.find("ghost"), std::string::npos);
    EXPECT_EQ(file.find("张三"), std::string::npos) << "GBK bytes in the file";
    const auto neighbor = file.find("<neighbor>");
    const auto route = file.find("<route-server>");
    const auto local = file.find("<server name=\"hub\"");
    EXPECT_EQ(file.rfind("<?xml", 0), 0u);
    EXPECT_TRUE(neighbor < route && route < local) << file;
}

TEST_F(CServerXmlTest, StatusAndUnknownAttributesAreIgnoredAndPasswordsNeverLogged)
{
    Directory loaded = LoadText(
        "<root anything=\"x\"><server name=\"hub\" port=\"not a number\" color=\"red\">"
        "<talker statu=\"online\" userid=\"alice\" password=\"s3cret-pw\" memo=\"m\" tel=\"1\"/>"
        "<talker/></server></root>");
    EXPECT_EQ(loaded.local.name, "hub");
    EXPECT_EQ(loaded.local.ip, "");
    EXPECT_EQ(loaded.local.port, "not a number");
    ASSERT_EQ(loaded.local.Talkers().size(), 2u);
    const CTalker& alice = *loaded.local.Talkers()[0];
    EXPECT_EQ(alice.userId, "alice");
    EXPECT_EQ(alice.password, "s3cret-pw");
    EXPECT_EQ(alice.statu, "");
    EXPECT_EQ(alice.memo, "");
    EXPECT_EQ(alice.serverName, "hub");
    EXPECT_EQ(loaded.local.Talkers()[1]->userId, "");

    EXPECT_TRUE(CacheTestFolder::LinesWith("s3cret-pw").empty());
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 用户名:alice 姓名: 性别: 电话:1 密码:****** 状态: 好友:").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 读取到服务器 hub /  / not a number / ").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 一共读取到了 2 个用户记录").size(), 1u);
}

TEST_F(CServerXmlTest, UsersOfSeveralServerElementsMerge)
{
    Directory loaded = LoadText("<r><server name=\"first\" ip=\"1.1.1.1\" description=\"d1\"><talker userid=\"a\"/></server>"
                                "<Server name=\"wrong case\"><talker userid=\"skipped\"/></Server>"
                                "<server name=\"second\" port=\"8801\"><talker userid=\"b\"/><talker userid=\"c\"/></server></r>");
    EXPECT_EQ(loaded.local.name, "second");
    EXPECT_EQ(loaded.local.ip, "1.1.1.1");
    EXPECT_EQ(loaded.local.port, "8801");
    ASSERT_EQ(loaded.local.Talkers().size(), 3u);
    EXPECT_EQ(loaded.local.Talkers()[0]->userId, "a");
    EXPECT_EQ(loaded.local.Talkers()[0]->serverName, "first");
    EXPECT_EQ(loaded.local.Talkers()[0]->serverDesc, "d1");
    EXPECT_EQ(loaded.local.Talkers()[2]->userId, "c");
    EXPECT_EQ(loaded.local.Talkers()[2]->serverName, "second");
    EXPECT_EQ(CacheTestFolder::LinesWith("一共读取到了 3 个用户记录").size(), 1u);
}

TEST_F(CServerXmlTest, ChildrenOfNeighborAndRouteServerCountWhateverTheirNames)
{
    Directory loaded = LoadText("<r><neighbor><peer name=\"n1\"><user userid=\"u1\"/><x userid=\"u2\"/></peer>"
                                "<server name=\"n2\"/></neighbor>"
                                "<other><server name=\"ignored\"/></other>"
                                "<route-server><hop name=\"r1\" port=\"8805\"><talker userid=\"ru\"/></hop></route-server>"
                                "<neighbor><server name=\"n3\"/></neighbor></r>");
    ASSERT_EQ(loaded.neighbors.size(), 3u);
    EXPECT_EQ(loaded.neighbors[0]->name, "n1");
    ASSERT_EQ(loaded.neighbors[0]->Talkers().size(), 2u);
    EXPECT_EQ(loaded.neighbors[0]->Talkers()[1]->userId, "u2");
    EXPECT_EQ(loaded.neighbors[0]->Talkers()[1]->serverName, "n1");
    EXPECT_EQ(loaded.neighbors[2]->name, "n3");
    ASSERT_EQ(loaded.routeServers.size(), 1u);
    EXPECT_EQ(loaded.routeServers[0]->port, "8805");
    EXPECT_EQ(loaded.routeServers[0]->Talkers().size(), 1u);
    EXPECT_EQ(loaded.local.name, "");
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 一共读取到了 2 个好友服务器").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 一共读取到了 3 个好友服务器").size(), 1u);
    EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 一共读取到了 1 个路由服务器").size(), 1u);
}

TEST_F(CServerXmlTest, ChineseTextFromTheFileArrivesAsGbk)
{
    Directory loaded = LoadText(Utf8(u8"<r><server name=\"总部\" description=\"北京 · 一号\">"
                                     u8"<talker userid=\"zhang\" name=\"张三丰\" friends=\"李四@总部\"/></server></r>"));
    EXPECT_EQ(loaded.local.name, "总部");
    EXPECT_EQ(loaded.local.description, "北京 · 一号");
    ASSERT_EQ(loaded.local.Talkers().size(), 1u);
    EXPECT_EQ(loaded.local.Talkers()[0]->name, "张三丰");
    EXPECT_EQ(loaded.local.Talkers()[0]->friends, "李四@总部");
    EXPECT_EQ(CacheTestFolder::LinesWith("姓名:张三丰").size(), 1u);
}

TEST_F(CServerXmlTest, UnreadableFilesAreReportedAndLeaveTheListsAlone)
{
    const struct {
        const char* what;
        const char* text;   // null: no file at all
    } cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"not well-formed", "<r><server name=\"hub\"></r>"},
        {"no root element", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- nothing -->\n"},
        {"only white space", " \n\t\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CacheTestFolder::ClearLines();
        const std::string path = folder_.File(std::string(c.what) + ".xml");
        if (c.text != nullptr)
            TempFolder::Write(path, c.text);
        Directory kept;
        kept.neighbors.push_back(MakeServer("known", "8802"));
        kept.routeServers.push_back(MakeServer("relay", "8803"));
        EXPECT_EQ(Load(path, kept), 0);
        EXPECT_EQ(CacheTestFolder::LinesWith("INFOR 配置文件 " + path + " 有错误!").size(), 1u);
        EXPECT_EQ(kept.neighbors.size(), 1u);
        EXPECT_EQ(kept.routeServers.size(), 1u);
    }
}

} // namespace
