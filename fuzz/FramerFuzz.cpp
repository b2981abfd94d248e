// Fuzzes the packet framer: settings, chunks, rule changes, raising handlers, whether markers
// are kept (IncludeStrings) and scripted custom start and stop searches all come from the
// input. Whatever the settings: no crash, senders right, nothing empty discarded, the buffer
// kept below a positive MaxBufferSize, and never more handed out than received. Without
// custom searches and with the markers kept in packets, nothing is lost, duplicated or
// reordered, so then also:
//  - the packets and discards handed out so far, in order, followed by what is still
//    buffered, are exactly the bytes received so far;
//  - nothing empty is discarded, and after each chunk the buffer is below a positive
//    MaxBufferSize;
//  - each packet obeys the rules in force: without a stop rule it is the chunk itself; with
//    Size alone it has Size bytes; it never exceeds a positive Size; it begins with the
//    start string; one cut at the stop string ends with it and holds no earlier occurrence
//    behind the start string's place.
// Built with -DTARNWICK_LIBFUZZER for libFuzzer; otherwise a program that replays the files
// (or directories of files) named on its command line.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ComDataPacket.h"

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "FramerFuzz: invariant broken: %s\n", what);
    std::abort();
}

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::string Bytes(std::size_t n) {
        n = std::min(n, size - std::min(at, size));
        std::string s(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return s;
    }
};

std::string Fold(std::string_view s, bool on) {
    std::string out(s);
    if (on)
        for (char& c : out)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    return out;
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    TComDataPacket framer;

    const std::uint8_t flags = in.Byte();
    framer.SetCaseInsensitive((flags & 1) != 0);
    const bool raisePackets = (flags & 2) != 0;
    const bool raiseDiscards = (flags & 4) != 0;
    framer.SetIncludeStrings((flags & 8) == 0);
    // A scripted search answers a position from its script byte and the text's length: before
    // the text (-1: not found), anywhere in it, or past its end; bit 7 makes it raise instead.
    const auto scripted = [&](std::uint8_t script) {
        return [&framer, script](TObject* sender, const std::string& str, std::int32_t& pos) {
            Check(sender == &framer, "sender is the framer");
            Check(pos == -1, "a search starts from -1");
            if (script & 0x80) throw Failure("search");
            const std::size_t span = str.size() + 3;
            pos = static_cast<std::int32_t>((script + str.size()) % span) - 1;
        };
    };
    if (flags & 16) framer.OnCustomStart = scripted(in.Byte());
    if (flags & 32) framer.OnCustomStop = scripted(in.Byte());
    const bool strict = framer.IncludeStrings() && !(flags & (16 | 32));
    framer.SetStartString(in.Bytes(in.Byte() % 4));
    framer.SetStopString(in.Bytes(in.Byte() % 4));
    framer.SetSize(static_cast<std::int32_t>(in.Byte() % 24) - 4);
    framer.SetMaxBufferSize(static_cast<std::int32_t>(in.Byte() % 80) - 8);

    std::string received;  // every byte fed in
    std::string handedOut; // every byte handed to OnPacket or OnDiscard, in order
    std::string chunk;     // the chunk being fed
    framer.OnPacket = [&](TObject* sender, const std::string& s) {
        Check(sender == &framer, "sender is the framer");
        handedOut += s;
        if (!strict) return;
        const bool folded = framer.CaseInsensitive();
        const std::string& start = framer.StartString();
        const std::string& stop = framer.StopString();
        const std::int32_t n = framer.Size();
        if (!framer.HasStopRule()) {
            Check(s == chunk, "without a stop rule the chunk is the packet");
        } else {
            if (n > 0) Check(s.size() <= static_cast<std::size_t>(n), "packet within Size");
            if (n > 0 && stop.empty())
                Check(s.size() == static_cast<std::size_t>(n), "Size alone gives Size bytes");
            // (A Size shorter than the start string cuts a packet inside it.)
            if (!start.empty())
                Check(Fold(s.substr(0, start.size()), folded) ==
                          Fold(start, folded).substr(0, std::min(start.size(), s.size())),
                      "packet begins with the start string");
            const bool cutBySize = n > 0 && s.size() == static_cast<std::size_t>(n);
            if (!stop.empty() && !cutBySize) {
                Check(s.size() >= start.size() + stop.size(), "room for both markers");
                const std::string f = Fold(s, folded);
                Check(f.find(Fold(stop, folded), start.size()) == s.size() - stop.size(),
                      "packet ends at the first stop string behind the start");
            }
        }
        if (raisePackets && !s.empty() && s[0] == 'T') throw Failure("packet");
    };
    framer.OnDiscard = [&](TObject* sender, const std::string& s) {
        Check(sender == &framer, "sender is the framer");
        Check(!s.empty(), "only bytes are discarded");
        handedOut += s;
        if (raiseDiscards && s.size() % 2 == 1) throw Failure("discard");
    };
    const auto conserved = [&] {
        if (strict)
            Check(handedOut + std::string(framer.Buffer()) == received,
                  "handed out + buffered == received");
        else
            Check(handedOut.size() + framer.Buffer().size() <= received.size(),
                  "never more handed out than received");
    };

    while (!in.Empty()) {
        const std::uint8_t op = in.Byte();
        try {
            switch (op) {
            case 0xF0: framer.ResetBuffer(); break;
            case 0xF1: framer.SetStopString(in.Bytes(in.Byte() % 4)); break;
            case 0xF2: framer.SetStartString(in.Bytes(in.Byte() % 4)); break;
            case 0xF3: framer.SetSize(static_cast<std::int32_t>(in.Byte() % 24) - 4); break;
            case 0xF4: framer.SetCaseInsensitive(!framer.CaseInsensitive()); break;
            case 0xF5: framer.SetMaxBufferSize(static_cast<std::int32_t>(in.Byte() % 80) - 8); break;
            default: {
                chunk = in.Bytes(op % 48);
                received += chunk;
                try {
                    framer.ReceiveData(nullptr, reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                       static_cast<std::int32_t>(chunk.size()));
                } catch (const Failure&) {
                }
                const std::int32_t limit = framer.MaxBufferSize();
                if (limit > 0)
                    Check(framer.Buffer().size() < static_cast<std::size_t>(limit),
                          "buffer below the limit after a chunk");
                break;
            }
            }
        } catch (const Failure&) {
        }
        conserved();
    }
    return 0;
}
