#include "ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr int kLowNice = 10;

} // namespace

void SetLowPriority()
{
    // Linux nice values are per thread when addressed by thread id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kLowNice);
}

} // namespace corvane
