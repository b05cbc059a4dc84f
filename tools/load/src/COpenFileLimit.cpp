#include "COpenFileLimit.h"

#include <sys/resource.h>

namespace quorvel::load {

COpenFileLimit::Limits COpenFileLimit::Current()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    return {static_cast<unsigned long>(limit.rlim_cur), static_cast<unsigned long>(limit.rlim_max)};
}

COpenFileLimit::Limits COpenFileLimit::RaiseToHard()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {};
    const Limits before{static_cast<unsigned long>(limit.rlim_cur), static_cast<unsigned long>(limit.rlim_max)};
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return before;
}

} // namespace quorvel::load
