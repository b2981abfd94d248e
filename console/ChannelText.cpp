#include "ChannelText.h"

#include <algorithm>

#include "Errors.h"

std::string WireLine(std::string_view command) {
    std::string out(command);
    out += '\r';
    return out;
}

std::string TypedLine(std::string_view utf8) {
    const auto refused = std::find_if(utf8.begin(), utf8.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte >= 0x7F;
    });
    if (refused == utf8.end()) {
        if (utf8.size() <= static_cast<std::size_t>(kTypedLineMax)) return std::string(utf8);
        throw Exception("The line was not sent: it has " + std::to_string(utf8.size()) +
                        " characters, the controller takes at most " +
                        std::to_string(kTypedLineMax) + ".");
    }
    const auto byte = static_cast<unsigned char>(*refused);
    if (byte < 0x80) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        const char code[] = {'0', 'x', kHex[byte >> 4], kHex[byte & 0xF], '\0'};
        throw Exception(std::string("The line was not sent: it holds the control character ") +
                        code + ", which the controller would take as a command of its own.");
    }
    // The whole character: its lead byte and the continuation bytes after it.
    auto end = refused + 1;
    while (end != utf8.end() && (static_cast<unsigned char>(*end) & 0xC0) == 0x80) ++end;
    throw Exception("The line was not sent: the controller reads only ASCII characters, not \"" +
                    std::string(refused, end) + "\".");
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
