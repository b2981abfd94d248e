// Appending to the monitor as a long session does: 100,000 lines through AddMonitorText,
// alternating a green command and a black reply, in the window shown offscreen. The monitor
// is never trimmed, so the cost of a line late in the log is what matters.
//
// Prints the mean cost per line of the first and of the last 10,000 lines; last line:
// ratio late/early append: R (goal: R <= 1.5, appending stays flat as the log grows).

#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>

#include "Application.h"
#include "ChannelText.h"
#include "FormLoader.h"
#include "QtFramework.h"
#include "UnitMain.h"

namespace {

constexpr int kLines = 100'000;
constexpr int kWindow = 10'000;
// The window paints between deliveries; here every 100 lines.
constexpr int kLinesPerPaint = 100;

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The application took the user's locale; the figures printed keep a decimal point.
    std::setlocale(LC_NUMERIC, "C");
    PrepareApplication();
    double earlyNs = 0, lateNs = 0;
    {
        std::unique_ptr<TForm1> form = CreateForm1();
        ShowCentred(*form);
        QCoreApplication::processEvents();
        const std::string sent = MonitorEntry("G91 F100 G1 X10");
        const std::string reply = MonitorEntry("ok\r");
        auto start = Clock::now();
        for (int i = 0; i < kLines; ++i) {
            if (i % 2 == 0)
                AddMonitorText(sent, kSentColour);
            else
                AddMonitorText(reply, kReceivedColour);
            if ((i + 1) % kLinesPerPaint == 0) {
                form->RichEdit1->ensureCursorVisible();
                QCoreApplication::processEvents();
            }
            if (i + 1 == kWindow)
                earlyNs = double(std::chrono::nanoseconds(Clock::now() - start).count());
            if (i + 1 == kLines - kWindow) start = Clock::now();
        }
        lateNs = double(std::chrono::nanoseconds(Clock::now() - start).count());
        std::printf("monitor blocks: %d\n", form->RichEdit1->document()->blockCount());
    }
    std::printf("first %d lines: %.2f us per line\n", kWindow, earlyNs / kWindow / 1000.0);
    std::printf("last %d lines: %.2f us per line\n", kWindow, lateNs / kWindow / 1000.0);
    std::printf("ratio late/early append: %.2f\n", lateNs / earlyNs);
    RemoveQtFrameworkHooks();
    return 0;
}
