#include "quorvel_store/CMsgRouteThread.h"

#include "quorvel_store/CMsgCache.h"

#include "marlune/Marlune.h"
#include "scrivlet/CLog4c.h"
#include "scrivlet/LogText.h"

#include <chrono>
#include <exception>
#include <utility>

namespace quorvel::store {

using corvane::CMyThreadBase;
using scrivlet::CLog4c;
using scrivlet::ErrorText;

namespace {

constexpr std::chrono::milliseconds kCyclePause{1000};
constexpr int kError = 2;

} // namespace

CMsgRouteThread::CMsgRouteThread(CLog4c& log, CMsgCache& cache, Parser parse)
    : log_(log), cache_(cache), parse_(std::move(parse))
{
}

CMsgRouteThread::~CMsgRouteThread()
{
    StopService();
}

void CMsgRouteThread::Bind(SnapshotSource source)
{
    source_ = std::move(source);
}

int CMsgRouteThread::StopService()
{
    const int result = CMyThreadBase::StopService();
    WaitForThread();
    return result;
}

void CMsgRouteThread::RunCycle()
{
    try {
        if (source_) {
            if (const auto snapshot = source_(StopToken()))
                SendRouteMsgs(*snapshot);
        }
    } catch (const std::exception& error) {
        log_.LogEvent(kError, "路由消息出错:%s", ErrorText(error.what()).c_str());
    }
    SleepFor(kCyclePause);
}

void CMsgRouteThread::SendRouteMsgs(const CServiceSnapshot& snapshot)
{
    if (snapshot.newRouter == nullptr)
        return;
    const auto router = snapshot.newRouter(log_, snapshot, StopToken());
    std::string bytes;
    std::uint32_t record = 0;
    while (!StopToken().stop_requested() && cache_.GetRouteMsg(bytes, record, snapshot.localName)) {
        auto message = parse_(bytes, record);
        if (!message)
            continue;
        if (!router->RouteMessage(*message)) {
            // Back in its place: the messages behind it wait for it.
            cache_.ReleaseMsg(record);
            return;
        }
        // A record that cannot be marked is no longer handed out in this run;
        // the pass ends there.
        if (snapshot.counters)
            snapshot.counters->CountRouted();
        const bool marked = cache_.SetMsgSent(record) == 1;
        log_.LogEvent(0, "已发送路由消息,时间:%s source:%s target:%s ", message->time.c_str(),
                      message->source.c_str(), message->target.c_str());
        if (!marked)
            return;
    }
}

} // namespace quorvel::store
