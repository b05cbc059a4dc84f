#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quorvel::soak {

// Builds frames' payloads of random valid XML: a message of any known type
// with every field filled at random (texts with XML specials, empty texts,
// long texts, addresses of real and unknown users and servers). Servers in
// the messages always name 127.0.0.1, so nothing the server learns from them
// can lead it off this machine.
//
// Thread: one object per thread.
class CRandomMessage {
public:
    CRandomMessage(std::uint32_t seed, std::vector<std::string> knownUsers);

    // The UTF-8 XML of one random message; empty when the library refused
    // to build it (counted by the caller as not sent).
    std::string Next();
    // A random text of up to `maxLength` bytes.
    std::string Text(std::size_t maxLength);
    // A random address: a known user, an unknown one, another server's.
    std::string Address();
    std::mt19937& Engine() { return engine_; }

private:
    std::mt19937 engine_;
    std::vector<std::string> knownUsers_;
};

} // namespace quorvel::soak
