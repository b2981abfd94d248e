#include "ChannelText.h"

std::string WireLine(std::string_view command) {
    std::string out(command);
    out += '\r';
    return out;
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
