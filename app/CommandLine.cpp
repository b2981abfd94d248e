#include "CommandLine.h"

#include <algorithm>
#include <string_view>

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLine line;
    const auto fail = [&line](std::string what) {
        if (line.error.empty()) line.error = std::move(what);
    };
    const auto addPort = [&](const std::string& name) {
        if (name.empty()) fail("--port needs a port name");
        else if (std::find(line.ports.begin(), line.ports.end(), name) == line.ports.end())
            line.ports.push_back(name);
    };
    constexpr std::string_view kPortIs = "--port=";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "-h" || a == "--help") {
            line.help = true;
        } else if (a == "--port") {
            if (i + 1 < arguments.size()) addPort(arguments[++i]);
            else fail("--port needs a port name");
        } else if (a.starts_with(kPortIs)) {
            addPort(a.substr(kPortIs.size()));
        } else {
            fail("unknown argument \"" + a + "\"");
        }
    }
    return line;
}

std::string CommandLineUsage() {
    return "Usage: tarnwick [--port NAME]...\n"
           "The console for a GRBL-driven mill.\n"
           "\n"
           "  --port NAME   list NAME among the ports, beside those the system lists and those\n"
           "                announced in $XDG_RUNTIME_DIR/tarnwick; repeatable. NAME is an\n"
           "                absolute path (/dev/pts/7) or a name under /dev (ttyV0). It shows\n"
           "                while its device exists.\n"
           "  -h, --help    print this and end\n";
}
