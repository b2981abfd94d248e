#pragma once
// The console's command line. Started without arguments it is the console it always was; the
// options only add to that.
//
//   --port NAME   list NAME among the ports (repeatable): a device that neither sysfs nor the
//                 runtime directory lists, such as a serial bridge's pseudo-terminal; NAME is
//                 an absolute path or a name under /dev, as the port opens it
//   -h, --help    print the usage and end

#include <string>
#include <vector>

struct TCommandLine {
    std::vector<std::string> ports;  // in the order given, each once
    bool help = false;
    std::string error;  // the first thing that could not be taken; empty when all was
};

// `arguments` without the program name, and without the options Qt takes for itself.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string CommandLineUsage();
