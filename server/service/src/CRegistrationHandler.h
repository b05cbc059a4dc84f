#pragma once

#include <string>

namespace corvane {
class CMyRASSocket;
}
namespace marlune {
class CMessageUserReg;
}

namespace quorvel::service {

struct CHandlerContext;

// Registration of new users and changes of existing profiles: checks the
// requested user id, writes the record, answers on the requesting connection
// and saves the directory.
// Threads: the service's loop thread only.
class CRegistrationHandler {
public:
    explicit CRegistrationHandler(CHandlerContext& context) : context_(context) {}

    // Always answers on socket ("success" or "failed" with the reason) and
    // always runs the service's config hook.
    void OnUserReg(marlune::CMessageUserReg* message, corvane::CMyRASSocket* socket);

    // userId with its ASCII letters upper-cased; other bytes unchanged.
    static std::string AsciiUpper(const std::string& userId);
    // True when the upper-cased id is one of the reserved words.
    static bool IsReserved(const std::string& userId);

private:
    CHandlerContext& context_;
};

} // namespace quorvel::service
