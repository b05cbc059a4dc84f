#include "corvane/CMyRASServer.h"
#include "quorvel_test_support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using corvane::CMyRASServer;
using corvane::CMyRASSocket;
using quorvel::testsupport::TempFolder;

namespace {

class Reader : public CMyRASServer {
public:
    using CMyRASServer::ReadStrFromProFile;
    void OnSocketClosed(CMyRASSocket*) override {}
};

class Profile : public ::testing::Test {
protected:
    Profile()
    {
        std::ofstream out(path);
        out << "; comment\n[Other]\nkey=wrong\n[Main]\n  Key  =  spaced value  \nlong=" << std::string(300, 'v')
            << "\nempty=\n";
    }
    std::string Read(const std::string& section, const std::string& key, const std::string& fallback = "dflt")
    {
        return reader.ReadStrFromProFile(path.string(), section, key, fallback);
    }
    TempFolder folder{"corvane_ini"};
    std::filesystem::path path = folder / "profile.ini";
    Reader reader;
};

TEST_F(Profile, ValuesAreTrimmedCutAndFoundCaseInsensitively)
{
    EXPECT_EQ(Read("Main", "key"), "spaced value");
    EXPECT_EQ(Read("MAIN", "KEY"), "spaced value");
    EXPECT_EQ(Read("Main", "long").size(), 259u);
    EXPECT_EQ(Read("Main", "empty"), "");
}

TEST_F(Profile, MissingKeySectionOrFileGiveTheTrimmedDefault)
{
    EXPECT_EQ(Read("Main", "absent"), "dflt");
    EXPECT_EQ(Read("Nowhere", "key", "  padded "), "padded");
    EXPECT_EQ(reader.ReadStrFromProFile("/nonexistent/x.ini", "Main", "key", "d"), "d");
}

} // namespace
