#pragma once

#include <marlune/BX_DATA.h>
#include <marlune/CTalkerServer.h>
#include <marlune/CXmlMsg.h>

#include <sys/types.h>
#include <tinyxml2.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace scrivlet {
class CLog4c;
}

namespace quorvel::directory {

// The directory file: this server with its registered users, the neighbour
// servers with their users, and the route servers, kept as UTF-8 XML on disk
// and as GBK records in memory.
//
//   <msg ...>                       root: written by createXmlHead, never read
//     <neighbor>  <server name ip port description> <talker .../>... </server>... </neighbor>
//     <route-server> <server name ip port description/>... </route-server>
//     <server name ip port description> <talker userid name sex tel password friends statu/>... </server>
//   </msg>
//
// A user's "statu" is written for whoever reads the file but never read
// back, so every user starts a run with the status of a new record.
// The file keeps passwords in plain text, so it is written readable by its
// owner only (mode 0600); the log shows "******" in their place.
//
// Create one object per load or save; it keeps no state between calls.
// Thread: the thread that owns the records passed in (the service loop for
// a load, the directory writer for a save of its copy); nothing else may
// touch them during a call. No exception leaves an operation.
class CServerXml : public marlune::CXmlMsg {
public:
    // Owned server records, in file order.
    using ServerList = std::vector<std::unique_ptr<marlune::CTalkerServer>>;

    // Mode of the written file: it holds passwords.
    static constexpr mode_t kFileMode = 0600;

    explicit CServerXml(scrivlet::CLog4c& log);
    ~CServerXml() override = default;

    // Reads the file at `path`: every "server" element under the root into
    // `local` (attributes overwrite, users are appended, so several elements
    // merge), "neighbor" into `neighbors`, "route-server" into `routeServers`;
    // other elements are skipped. The two lists are emptied first, once the
    // file has parsed; `local`'s users are not, the caller empties them
    // (ReleaseAll) before the load. Returns 1 when the file was read; 0 when
    // it is missing, not well-formed or has no root element (logged as
    // "配置文件 %s 有错误!", the records untouched) or when reading failed
    // part-way (logged).
    int LoadConfig(const std::string& path, marlune::CTalkerServer& local, ServerList& neighbors,
                   ServerList& routeServers);

    // Fills `server` from the element's "name", "ip", "port" and
    // "description" and appends one user per child element, whatever its
    // name, with `server`'s name and description as home server.
    void ReadServer(const tinyxml2::XMLElement& element, marlune::CTalkerServer& server);
    // Appends one server per child element, whatever its name.
    void ReadNeighbors(const tinyxml2::XMLElement& element, ServerList& neighbors);
    void ReadRouteServers(const tinyxml2::XMLElement& element, ServerList& routeServers);

    // Builds the whole file into `out`: neighbours with their users, route
    // servers without users, then this server with its users. Returns the
    // byte count; 0 (logged) when nothing was built.
    std::size_t BuildConfig(marlune::BX_DATA* out, const marlune::CTalkerServer& local, const ServerList& neighbors,
                            const ServerList& routeServers);

    // Builds the file and puts it in place of the one at `path` atomically,
    // with mode 0600. Returns 1 when saved; 0 (logged) when the build or the
    // write failed, the old file then being left whole.
    int SaveConfig(const std::string& path, const marlune::CTalkerServer& local, const ServerList& neighbors,
                   const ServerList& routeServers);

private:
    void ReadServerList(const tinyxml2::XMLElement& element, ServerList& servers);
    void ReadTalker(const tinyxml2::XMLElement& element, marlune::CTalkerServer& server);
    void LogError(const std::string& text);

    scrivlet::CLog4c& log_;
};

} // namespace quorvel::directory
