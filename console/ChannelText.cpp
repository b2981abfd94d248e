#include "ChannelText.h"

#include <algorithm>

#include "Errors.h"

std::string WireLine(std::string_view command) {
    std::string out(command);
    out += '\r';
    return out;
}

std::string TypedLine(std::string_view utf8) {
    const auto outside = std::find_if(utf8.begin(), utf8.end(),
                                      [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
    if (outside == utf8.end()) return std::string(utf8);
    // The whole character: its lead byte and the continuation bytes after it.
    auto end = outside + 1;
    while (end != utf8.end() && (static_cast<unsigned char>(*end) & 0xC0) == 0x80) ++end;
    throw Exception("The line was not sent: the controller reads only ASCII characters, not \"" +
                    std::string(outside, end) + "\".");
}

std::string MonitorEntry(std::string_view text) {
    std::string out(text);
    out += "\r\n";
    return out;
}

bool IsStatusReport(std::string_view line) { return !line.empty() && line.front() == '<'; }

std::string MonitorLines(std::string_view entry) {
    std::string out;
    out.reserve(entry.size());
    for (std::size_t i = 0; i < entry.size(); ++i) {
        if (entry[i] != '\r') {
            out += entry[i];
            continue;
        }
        // CRs that end in an LF make one line break with it; a lone CR is a break of its own.
        std::size_t j = i;
        while (j < entry.size() && entry[j] == '\r') ++j;
        if (j < entry.size() && entry[j] == '\n') {
            out += '\n';
            i = j;
        } else {
            out += '\n';
        }
    }
    return out;
}
