// Parse plus build of the three message shapes the server handles most: a
// chat message of about 200 bytes, a file piece as a relay passes it on
// (about 300 bytes, in the library's own layout, so it is read directly),
// and a user-list reply with 50 users.
// The parse-only, build-only and conversion-only cases show where the time
// goes. The memory cases report the peak of heap bytes one parse holds per
// byte of payload, for an honest dense payload and for hostile shapes.
#include "marlune/Marlune.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

using marlune::BX_DATA;
using marlune::CMessageBase;
using marlune::CMessageUserList;
using marlune::CTalker;
using marlune::CXmlMsg;

namespace {

// Heap bytes in use and their peak, counted by the operators below, which
// the library and TinyXML-2 reach as well.
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

void CountAllocation(void* p)
{
    const std::size_t now = g_live += malloc_usable_size(p);
    std::size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

} // namespace

void* operator new(std::size_t size)
{
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    CountAllocation(p);
    return p;
}

// GCC takes these replacements for a mismatch between new and free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    if (p != nullptr) {
        g_live -= malloc_usable_size(p);
        std::free(p);
    }
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
#pragma GCC diagnostic pop

namespace {

std::string Utf8(std::u8string_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// 200 bytes, ASCII text.
const std::string kChatAscii = Utf8(
    u8"<msg type=\"user-talking\" time=\"2026-12-07 21:30:00\" source=\"alice@hub\" "
    u8"target=\"bob@hub\" memo=\"\"><body format=\"\">Hello Bob, are we still on for "
    u8"lunch at noon? I booked the usual table.</body></msg>");

// About 200 bytes with Chinese text, so the conversions go through iconv.
const std::string kChatChinese = Utf8(
    u8"<msg type=\"user-talking\" time=\"2026-12-07 21:30:00\" source=\"张三@总部\" "
    u8"target=\"李四@总部\" memo=\"\"><body format=\"\">中午一起吃饭吗？老地方，我订好了位子。</body></msg>");

// A file piece as a sender's client writes it; the relay adds itself to the
// routed list before passing it on.
const std::string kTransFile = Utf8(
    u8"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<msg type=\"trans-file\" time=\"2026-12-07 21:30:00\" "
    u8"source=\"l17-3f9a2c@load\" target=\"l18-3f9a2c@load\" memo=\"\">\n  <body file=\"load.bin\" size=\"0\" "
    u8"offset=\"0\" action=\"data\">F17S1048576T1765229400123456QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=</body>\n"
    u8"</msg>\n");

std::string UserListReply()
{
    CMessageUserList list;
    list.time = "2026-12-07 21:30:00";
    list.source = "alice@hub";
    list.target = "alice@hub";
    list.userId = "alice";
    list.count = "50";
    for (int i = 0; i < 50; ++i) {
        CTalker talker;
        talker.userId = "user" + std::to_string(i);
        talker.name = CXmlMsg::u2gb(Utf8(u8"用户")) + std::to_string(i);
        talker.sex = "f";
        talker.tel = "1380000" + std::to_string(1000 + i);
        talker.statu = "online";
        talker.friends = "alice@hub/bob@hub";
        talker.serverName = "hub";
        talker.serverDesc = "main";
        list.AddTalker(talker);
    }
    BX_DATA bx(&list);
    CXmlMsg().BuildXml(&bx);
    return bx.buff;
}

void ParseBuild(benchmark::State& state, const std::string& payload)
{
    CXmlMsg xml;
    for (auto _ : state) {
        CMessageBase head(nullptr);
        auto msg = xml.ParseXmlNew(payload.data(), payload.size(), &head);
        BX_DATA bx(msg.get());
        benchmark::DoNotOptimize(xml.BuildXml(&bx));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
}

void ParseOnly(benchmark::State& state, const std::string& payload)
{
    CXmlMsg xml;
    for (auto _ : state) {
        CMessageBase head(nullptr);
        benchmark::DoNotOptimize(xml.ParseXmlNew(payload.data(), payload.size(), &head));
    }
}

void BuildOnly(benchmark::State& state, const std::string& payload)
{
    CXmlMsg xml;
    auto msg = xml.ParseXmlNew(payload.data(), payload.size(), nullptr);
    for (auto _ : state) {
        BX_DATA bx(msg.get());
        benchmark::DoNotOptimize(xml.BuildXml(&bx));
    }
}

void BM_ChatAscii_ParseBuild(benchmark::State& s) { ParseBuild(s, kChatAscii); }
void BM_ChatChinese_ParseBuild(benchmark::State& s) { ParseBuild(s, kChatChinese); }
void BM_ChatChinese_Parse(benchmark::State& s) { ParseOnly(s, kChatChinese); }
void BM_ChatChinese_Build(benchmark::State& s) { BuildOnly(s, kChatChinese); }
void BM_TransFile_Parse(benchmark::State& s) { ParseOnly(s, kTransFile); }

// A relay of a file piece: parse, add this server's entry, then `build` the
// bytes to pass on.
template <class Build>
void Relay(benchmark::State& state, Build build)
{
    CXmlMsg xml;
    marlune::CTalkerServer self;
    self.name = "load";
    for (auto _ : state) {
        CMessageBase head(nullptr);
        auto msg = xml.ParseXmlNew(kTransFile.data(), kTransFile.size(), &head);
        msg->AddRoutedServer(self);
        benchmark::DoNotOptimize(build(xml, *msg));
    }
}

// Built again from the message.
void BM_TransFile_Relay(benchmark::State& state)
{
    Relay(state, [](CXmlMsg& xml, CMessageBase& msg) { return xml.BuildBytes(msg); });
}

// As a server does it when the piece came in the library's own layout: its
// entry spliced into the received bytes.
void BM_TransFile_RelaySpliced(benchmark::State& state)
{
    Relay(state, [](CXmlMsg&, CMessageBase& msg) { return CXmlMsg::BuildRelayed(kTransFile, msg); });
}

// The parse of a file piece by the general XML parser, for comparison
// with the direct reading of the library's own layout.
void BM_TransFile_ParseGeneral(benchmark::State& state)
{
    CXmlMsg xml;
    xml.SetDirectReading(false);
    for (auto _ : state) {
        CMessageBase head(nullptr);
        benchmark::DoNotOptimize(xml.ParseXmlNew(kTransFile.data(), kTransFile.size(), &head));
    }
}

void BM_TransFile_Build(benchmark::State& state)
{
    CXmlMsg xml;
    auto msg = xml.ParseXmlNew(kTransFile.data(), kTransFile.size(), nullptr);
    marlune::CTalkerServer self;
    self.name = "load";
    msg->AddRoutedServer(self);
    for (auto _ : state) {
        benchmark::DoNotOptimize(xml.BuildBytes(*msg));
    }
}

void BM_UserList50_ParseBuild(benchmark::State& s) { ParseBuild(s, UserListReply()); }
void BM_UserList50_Parse(benchmark::State& s) { ParseOnly(s, UserListReply()); }
void BM_UserList50_Build(benchmark::State& s) { BuildOnly(s, UserListReply()); }

// The XML parser alone on the chat payload, for comparison.
void BM_ChatChinese_TinyXmlOnly(benchmark::State& state)
{
    for (auto _ : state) {
        tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
        benchmark::DoNotOptimize(doc.Parse(kChatChinese.data(), kChatChinese.size()));
    }
}

// One short Chinese text through iconv, each way.
void BM_ConvertShortChinese(benchmark::State& state)
{
    const std::string utf8 = Utf8(u8"中午一起吃饭吗？");
    for (auto _ : state) {
        benchmark::DoNotOptimize(CXmlMsg::g2u(CXmlMsg::u2gb(utf8)));
    }
}

std::string Repeat(const std::string& piece, std::size_t bytes)
{
    std::string out;
    while (out.size() < bytes) {
        out += piece;
    }
    return out;
}

// Peak heap bytes held during one parse, per payload byte.
void PeakPerByte(benchmark::State& state, const std::string& payload)
{
    double ratio = 0;
    bool parsed = false;
    for (auto _ : state) {
        const std::size_t base = g_live.load();
        g_peak = base;
        CXmlMsg xml;
        auto msg = xml.ParseXmlNew(payload.data(), payload.size(), nullptr);
        parsed = msg != nullptr;
        ratio = std::max(ratio, static_cast<double>(g_peak.load() - base) / payload.size());
    }
    state.counters["peak_per_byte"] = ratio;
    state.counters["parsed"] = parsed ? 1 : 0;
}

constexpr std::size_t kBig = 4u << 20;

void BM_Memory_HonestUserList(benchmark::State& s)
{
    PeakPerByte(s, "<msg type=\"user-list\"><body>" +
                       Repeat("<talker userid=\"u\" name=\"\" sex=\"\" tel=\"\" password=\"\" statu=\"\" "
                              "friends=\"\" server=\"\" serverdesc=\"\" memo=\"\"/>\n", kBig) +
                       "</body></msg>");
}

void BM_Memory_HostileDenseAttributes(benchmark::State& s)
{
    PeakPerByte(s, "<msg type=\"heart\"><body>" + Repeat("<x a='' b=''/>  ", kBig) +
                       "</body></msg>");
}

void BM_Memory_HostileEmptyTalkers(benchmark::State& s)
{
    PeakPerByte(s, "<msg type=\"user-list\"><body>" + Repeat("<talker/>       ", kBig) +
                       "</body></msg>");
}

void BM_Memory_HugeValue(benchmark::State& s)
{
    PeakPerByte(s, "<msg type=\"heart\" time=\"" + std::string(kBig, 'x') + "\"/>");
}

} // namespace

BENCHMARK(BM_Memory_HonestUserList)->Iterations(3);
BENCHMARK(BM_Memory_HostileDenseAttributes)->Iterations(3);
BENCHMARK(BM_Memory_HostileEmptyTalkers)->Iterations(3);
BENCHMARK(BM_Memory_HugeValue)->Iterations(3);
BENCHMARK(BM_ChatAscii_ParseBuild);
BENCHMARK(BM_ChatChinese_ParseBuild);
BENCHMARK(BM_ChatChinese_Parse);
BENCHMARK(BM_ChatChinese_Build);
BENCHMARK(BM_ChatChinese_TinyXmlOnly);
BENCHMARK(BM_ConvertShortChinese);
BENCHMARK(BM_TransFile_Parse);
BENCHMARK(BM_TransFile_ParseGeneral);
BENCHMARK(BM_TransFile_Relay);
BENCHMARK(BM_TransFile_RelaySpliced);
BENCHMARK(BM_TransFile_Build);
BENCHMARK(BM_UserList50_ParseBuild);
BENCHMARK(BM_UserList50_Parse);
BENCHMARK(BM_UserList50_Build);

BENCHMARK_MAIN();
