#pragma once
// The console window in tests: created from its design offscreen, with the test playing the
// controller on the master side of a pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "Application.h"
#include "FormLoader.h"
#include "QtTestSupport.h"
#include "UnitMain.h"

namespace windowtest {

using namespace controlstest;

struct Pty {
    Pty() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        // The port opens its own descriptor; ours would keep the line alive after a hang-up.
        close(slave);
        slave = -1;
    }
    ~Pty() { Hangup(); }
    void Hangup() {
        if (master >= 0) close(master);
        master = -1;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What the console wrote: `n` bytes, or fewer when `limitMs` passed first. The Qt event
    // loop runs meanwhile, so the window's timer and deliveries go on.
    std::string Read(std::size_t n, int limitMs = 10000) const {
        std::string out;
        QSocketNotifier readable(master, QSocketNotifier::Read);
        auto drain = [&] {
            char buf[256];
            while (out.size() < n) {
                const ssize_t got = read(master, buf, std::min(sizeof buf, n - out.size()));
                if (got <= 0) break;
                out.append(buf, std::size_t(got));
            }
            return out.size() >= n;
        };
        QObject::connect(&readable, &QSocketNotifier::activated, [&] { drain(); });
        ServeQtUntil(drain, std::chrono::milliseconds(limitMs));
        return out;
    }
    int master = -1, slave = -1;
    std::string path;
};

// Answers the next file dialog the window opens: `act` gets it once it is on screen.
inline void AnswerFileDialog(std::function<void(QFileDialog&)> act) {
    auto* watch = new QTimer;
    QObject::connect(watch, &QTimer::timeout, [watch, act] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            watch->stop();
            watch->deleteLater();
            act(*dialog);
        }
    });
    watch->start(10);
}

// Picks `path` in an open file dialog, as typing it into the name field does. selectFile alone
// leaves that field as it is while it has focus, which it may have by the time the answer
// runs; the dialog would then take nothing and stay open.
inline void ChooseFile(QFileDialog& dialog, const QString& path) {
    dialog.selectFile(path);
    if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(path);
}

// A fresh window per test, shown offscreen; Form1 points at it.
class WindowTest : public QtTest {
protected:
    void SetUp() override {
        static const bool prepared = [] {
            PrepareApplication();
            RecordErrors();  // again: PrepareApplication installs the message box
            return true;
        }();
        (void)prepared;
        form_ = CreateForm1(Scale());
        ShowCentred(*form_);
    }
    void TearDown() override {
        form_.reset();
        QtTest::TearDown();
    }
    virtual double Scale() const { return 1.0; }

    // The monitor's lines, as shown.
    QStringList MonitorLines() const {
        return form_->RichEdit1->toPlainText().split(QLatin1Char('\n'));
    }
    // Colour of the first character of monitor line `n`.
    QColor LineColour(int n) const {
        const QTextBlock block = form_->RichEdit1->document()->findBlockByNumber(n);
        for (auto it = block.begin(); !it.atEnd(); ++it)
            return it.fragment().charFormat().foreground().color();
        return {};
    }

    std::unique_ptr<TForm1> form_;
};

}  // namespace windowtest
