// Renders the console window offscreen to a PNG file, disconnected or connected (then the
// program plays a controller at the far end of a pseudo-terminal for a moment).
//
//   QT_QPA_PLATFORM=offscreen QT_FONT_DPI=120 tarnwick_render out.png [connected]

#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "Application.h"
#include "CPortCtl.h"
#include "FormLoader.h"
#include "QtFramework.h"
#include "SerialPorts.h"
#include "UnitMain.h"

namespace {

// Runs the event loop until `done` holds or 5 s passed.
template <typename Pred>
bool ServeUntil(Pred done) {
    QTimer guard;
    guard.setSingleShot(true);
    bool expired = false;
    QObject::connect(&guard, &QTimer::timeout, [&] { expired = true; });
    guard.start(5000);
    while (!done() && !expired) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

bool ShowConnected(TForm1& form, int master, const std::string& slave) {
    form.ComComboBox1->SetText(slave);  // as the operator's pick shows it
    form.ComPort1->SetPort(slave);
    form.btnComConnect->click();
    if (!form.ComPort1->Connected()) return false;
    const char reply[] =
        "\r\nGrbl 0.9j ['$' for help]\r\nok\r\n"
        "<Idle,MPos:12.500,-3.250,0.000,WPos:12.500,-3.250,0.000>\r\n";
    if (write(master, reply, std::strlen(reply)) < 0) return false;
    return ServeUntil([&] {
        return form.LinkPhase() == TLinkPhase::Ready &&
               form.labelZwDisplay->text() == QStringLiteral("0,000") &&
               form.RichEdit1->toPlainText().contains(QStringLiteral("ok"));
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s out.png [connected]\n", argv[0]);
        return 2;
    }
    const bool connected = argc > 2 && std::strcmp(argv[2], "connected") == 0;
    QApplication app(argc, argv);
    PrepareApplication();

    int master = -1, slave = -1;
    char slaveName[256] = {};
    int rc = 0;
    // The terminal is named as an extra port, so the port list has it from the start.
    if (connected && openpty(&master, &slave, slaveName, nullptr, nullptr) == 0)
        SetExtraPorts({slaveName});
    {
        std::unique_ptr<TForm1> form = CreateForm1();
        ShowCentred(*form);
        if (connected) {
            if (master < 0 || !ShowConnected(*form, master, slaveName)) {
                std::fprintf(stderr, "could not show the connected window\n");
                rc = 1;
            }
        }
        // grab() paints the window itself; the layout only needs the pending events once.
        QCoreApplication::processEvents();
        if (rc == 0 && !form->grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "could not write %s\n", argv[1]);
            rc = 1;
        }
    }
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    RemoveQtFrameworkHooks();
    return rc;
}
