// Tarnwick: the console for a GRBL-driven mill. One window, no settings; the only arguments
// name extra ports (CommandLine.h).

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Application.h"
#include "CommandLine.h"
#include "Errors.h"
#include "FormLoader.h"
#include "QtFramework.h"
#include "SerialPorts.h"
#include "UnitMain.h"

int main(int argc, char* argv[]) {
    // Help before the application object, which needs a display.
    if (ParseCommandLine({argv + 1, argv + argc}).help) {
        std::fputs(CommandLineUsage().c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    const TCommandLine line = ParseCommandLine({argv + 1, argv + argc});
    if (!line.error.empty()) {
        std::fprintf(stderr, "tarnwick: %s\n%s", line.error.c_str(), CommandLineUsage().c_str());
        return 2;
    }
    const std::vector<std::string> present = PresentPorts(line.ports);
    for (const std::string& port : line.ports)
        if (std::find(present.begin(), present.end(), port) == present.end())
            std::fprintf(stderr, "tarnwick: port %s is not there now; it is listed once it is\n",
                         port.c_str());
    SetExtraPorts(line.ports);
    PrepareApplication();
    int result = 1;
    try {
        std::unique_ptr<TForm1> form = CreateForm1();
        ShowCentred(*form);
        result = QApplication::exec();
    } catch (...) {
        framework::ShowCurrentException();
    }
    RemoveQtFrameworkHooks();
    return result;
}
