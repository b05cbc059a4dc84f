// Arbitrary bytes into one connection's reassembly, cut into reads whose
// sizes come from the first input byte. Besides the sanitizers' findings it
// checks that exactly the frames a plain whole-stream parse finds are
// delivered, in order and byte for byte, however the stream was cut.
#include "corvane/CMyRASServer.h"
#include "corvane/CMyRASSocket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using corvane::CMyRASServer;
using corvane::CMyRASSocket;
using corvane::RAS_CALLBACK_PARA;

namespace {

std::vector<std::string> g_delivered;

void Collect(RAS_CALLBACK_PARA* para)
{
    g_delivered.emplace_back(reinterpret_cast<const char*>(para->data), para->length);
}

class Sink : public CMyRASServer {
public:
    void OnSocketClosed(CMyRASSocket*) override {}
};

// The frames at the front of the stream, read independently of the library.
std::vector<std::string> Expected(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> frames;
    std::size_t at = 0;
    while (size - at >= 24) {
        const std::uint8_t* header = data + at;
        std::uint32_t length = 0;
        std::memcpy(&length, header + 12, 4);
        if (std::memcmp(header, "RAS_DATA", 9) != 0 || length == 0 || size - at - 24 < length)
            break;
        frames.emplace_back(reinterpret_cast<const char*>(header + 24), length);
        at += 24 + length;
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t step = data[0] % 64 + 1;
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;

    g_delivered.clear();
    Sink sink;
    sink.RegCallBackOnSckString(&Collect);
    CMyRASSocket socket(&sink);
    for (std::size_t at = 0; at < length; at += step)
        socket.ReceiveBytes(stream + at, std::min(step, length - at));
    if (g_delivered != Expected(stream, length))
        std::abort();
    return 0;
}
