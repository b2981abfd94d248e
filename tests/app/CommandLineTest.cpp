// The console's command line: nothing, extra ports, help, and what is refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, NamesExtraPortsAndRefusesAnythingElse) {
    const struct {
        Args args;
        Args ports;
        bool help;
        std::string error;
    } cases[] = {
        {{}, {}, false, ""},
        {{"--port", "/dev/pts/7", "--port=/dev/ttyV0"}, {"/dev/pts/7", "/dev/ttyV0"}, false, ""},
        {{"--port", "ttyV0", "--port", "ttyV0"}, {"ttyV0"}, false, ""},
        {{"--port", "-h"}, {"-h"}, false, ""},  // a value, not the option
        {{"--help"}, {}, true, ""},
        {{"-h", "--bogus"}, {}, true, "unknown argument \"--bogus\""},
        {{"--port"}, {}, false, "--port needs a port name"},
        {{"--port="}, {}, false, "--port needs a port name"},
        {{"/dev/ttyUSB0"}, {}, false, "unknown argument \"/dev/ttyUSB0\""},
        {{"--ports=x", "--port", "a"}, {"a"}, false, "unknown argument \"--ports=x\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const TCommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(line.ports, c.ports);
        EXPECT_EQ(line.help, c.help);
        EXPECT_EQ(line.error, c.error);
    }
    EXPECT_NE(CommandLineUsage().find("--port NAME"), std::string::npos);
}

}  // namespace
