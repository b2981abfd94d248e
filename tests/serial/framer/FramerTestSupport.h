#pragma once
// Helpers shared by the framer tests: feeding chunks the way the port does, and recording
// what the framer hands out.

#include <cstdint>
#include <string>
#include <vector>

#include "ComDataPacket.h"

namespace framer_test {

// Hands `chunk` to the framer through its receive handler, as the port's link would.
inline void Feed(TComDataPacket& framer, const std::string& chunk) {
    framer.ReceiveData(nullptr, reinterpret_cast<const std::uint8_t*>(chunk.data()),
                       static_cast<std::int32_t>(chunk.size()));
}

// Records packets as "P:<bytes>" and discards as "D:<bytes>", in the order they come.
struct Recorder {
    std::vector<std::string> events;

    template <typename Framer>
    void Listen(Framer& framer) {
        framer.OnPacket = [this](TObject*, const std::string& s) { events.push_back("P:" + s); };
        framer.OnDiscard = [this](TObject*, const std::string& s) { events.push_back("D:" + s); };
    }
};

}  // namespace framer_test
