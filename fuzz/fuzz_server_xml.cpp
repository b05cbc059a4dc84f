// Any bytes as the directory file, through LoadConfig. Besides the
// sanitizers' findings it checks that what was loaded saves, and that the
// saved file loads into records that build to the same bytes again.
#include "FuzzTempFolder.h"

#include "quorvel_directory/CServerXml.h"

#include "scrivlet/CLog4c.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using marlune::BX_DATA;
using marlune::CTalkerServer;
using quorvel::directory::CServerXml;
using quorvel::testsupport::TempFolder;
using scrivlet::CLog4c;

namespace {

struct Directory {
    CTalkerServer local;
    CServerXml::ServerList neighbors;
    CServerXml::ServerList routeServers;
};

CLog4c& FuzzLog()
{
    static CLog4c log = [] {
        CLog4c made;
        made.InitInstance((FuzzTempFolder() / "log").string());
        return made;
    }();
    return log;
}

std::string Build(Directory& dir)
{
    CServerXml xml(FuzzLog());
    BX_DATA out;
    xml.BuildConfig(&out, dir.local, dir.neighbors, dir.routeServers);
    return out.buff;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input = (FuzzTempFolder() / "server.xml").string();
    const std::string saved = (FuzzTempFolder() / "saved.xml").string();
    TempFolder::Write(input, std::string(reinterpret_cast<const char*>(data), size));

    Directory first;
    if (CServerXml(FuzzLog()).LoadConfig(input, first.local, first.neighbors, first.routeServers) != 1)
        return 0;
    if (CServerXml(FuzzLog()).SaveConfig(saved, first.local, first.neighbors, first.routeServers) != 1)
        std::abort();   // what was loaded, saves
    Directory second;
    if (CServerXml(FuzzLog()).LoadConfig(saved, second.local, second.neighbors, second.routeServers) != 1)
        std::abort();   // what was saved, loads
    if (Build(first) != Build(second))
        std::abort();   // and nothing changes on the way round
    return 0;
}
