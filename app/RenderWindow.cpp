// Renders the console window offscreen to a PNG file, disconnected or connected (then the
// program plays a controller at the far end of a pseudo-terminal for a moment).
//
//   QT_QPA_PLATFORM=offscreen QT_FONT_DPI=120 tarnwick_render out.png [connected]

#include <pty.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "Application.h"
#include "CPortCtl.h"
#include "FormLoader.h"
#include "GCodeGrid.h"
#include "ImageButton.h"
#include "QtFramework.h"
#include "SerialPorts.h"
#include "UnitMain.h"

namespace {

// Runs the event loop until `done` holds or `ms` passed.
template <typename Pred>
bool ServeUntil(Pred done, int ms = 5000) {
    QTimer guard;
    guard.setSingleShot(true);
    bool expired = false;
    QObject::connect(&guard, &QTimer::timeout, [&] { expired = true; });
    guard.start(ms);
    while (!done() && !expired) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

bool ShowConnected(TForm1& form, int master, const std::string& slave) {
    form.ComComboBox1->SetText(slave);  // as the operator's pick shows it
    form.ComPort1->SetPort(slave);
    form.btnComConnect->click();
    if (!form.ComPort1->Connected()) return false;
    // The greeting, then the answer to the "F100" it brings: an "ok" before that line went out
    // would answer nothing, and a job started later would wait for it.
    const char greeting[] = "\r\nGrbl 0.9j ['$' for help]\r\n";
    if (write(master, greeting, std::strlen(greeting)) < 0) return false;
    if (!ServeUntil([&] { return form.LinkPhase() == TLinkPhase::Ready; })) return false;
    const char reply[] =
        "ok\r\n<Idle,MPos:12.500,-3.250,0.000,WPos:12.500,-3.250,0.000>\r\n";
    if (write(master, reply, std::strlen(reply)) < 0) return false;
    return ServeUntil([&] {
        return form.labelZwDisplay->text() == QStringLiteral("0,000") &&
               form.RichEdit1->toPlainText().contains(QStringLiteral("ok"));
    });
}

// Reads what the window wrote to the controller's end, for `ms` at most.
std::string Drain(int master, int ms) {
    std::string got;
    ServeUntil([&] {
        char buf[4096];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0) break;
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return false;
    }, ms);
    return got;
}

// Runs a small file as far as the state `mode` names: "running" (some lines answered),
// "paused", "error" (an error reply holds the job) or "ended" (all answered, machine idle).
bool ShowJob(TForm1& form, int master, const std::string& mode) {
    char path[] = "/tmp/tarnwick-render-XXXXXX.nc";
    const int fd = mkstemps(path, 3);
    if (fd < 0) return false;
    std::string text = "(Tasche 40 x 20, Fraeser 3 mm)\nG21 G90 G17\nG0 Z5\nM3 S12000\n";
    for (int i = 0; i < 36; ++i)
        text += "G1 X" + std::to_string(i % 2 ? 40 : 0) + " Y" + std::to_string(i / 2) +
                " F800" + (i % 6 == 0 ? " ; Bahn " + std::to_string(i / 6 + 1) : "") + "\n";
    text += "G0 Z5\nM5\nM30\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written) return false;
    form.JvStringGrid1->LoadCsvFile(path, ';', '"', true);
    form.JvStringGrid1->ShowAsGCodeTable();
    unlink(path);
    Drain(master, 100);  // the connect's line and polls
    form.btnStartProcess->click();
    const int answers = mode == "ended" ? 1000 : 14;
    int answered = 0;
    std::string sent;
    for (int round = 0; round < 50 && answered < answers; ++round) {
        sent += Drain(master, 30);
        std::string reply;
        for (auto cr = std::count(sent.begin(), sent.end(), '\r'); answered < cr && answered < answers; ++answered)
            reply += mode == "error" && answered == answers - 1 ? "error:20\r\n" : "ok\r\n";
        if (!reply.empty() && write(master, reply.data(), reply.size()) < 0) return false;
    }
    if (mode == "paused") form.btnJobPause->click();
    const char* state = mode == "ended" ? "<Idle,MPos:40.000,17.000,5.000,WPos:40.000,17.000,5.000>\r\n"
                                        : mode == "running" ? "<Run,MPos:12.500,3.000,-1.000,WPos:12.500,3.000,-1.000>\r\n"
                                                            : "<Hold,MPos:12.500,3.000,-1.000,WPos:12.500,3.000,-1.000>\r\n";
    for (int i = 0; i < 2; ++i) {
        if (write(master, state, std::strlen(state)) < 0) return false;
        Drain(master, 150);
    }
    Drain(master, 300);  // the progress line's next refresh
    return mode == "ended" ? !form.btnJobStop->isEnabled() : form.btnJobStop->isEnabled();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s out.png [connected|running|paused|error|ended]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argc > 2 ? argv[2] : "";
    const bool connected = !mode.empty();
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
            } else if (mode != "connected" && !ShowJob(*form, master, mode)) {
                std::fprintf(stderr, "could not show the job %s\n", mode.c_str());
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
