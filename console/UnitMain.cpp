#include "UnitMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>

#include "CPortCtl.h"
#include "GCodeGrid.h"
#include "ImageButton.h"
#include "JobRunner.h"
#include "OpenDialog.h"
#include "SpinEdit.h"

TForm1* Form1 = nullptr;

namespace {

using ClickHandler = void (TForm1::*)(QObject*);
struct NamedClick {
    std::string_view name;
    ClickHandler handler;
};
// The handlers a design may wire to a click, by name.
constexpr NamedClick kClickHandlers[] = {
    {"btnConnectPortClick", &TForm1::btnConnectPortClick},
    {"btnterminalClearClick", &TForm1::btnterminalClearClick},
    {"btnSoftResetClick", &TForm1::btnSoftResetClick},
    {"Einstellungen1Click", &TForm1::Einstellungen1Click},
    {"Werkzeugweg1Click", &TForm1::Werkzeugweg1Click},
    {"btnManXplusClick", &TForm1::btnManXplusClick},
    {"btnManXminusClick", &TForm1::btnManXminusClick},
    {"btnYplusClick", &TForm1::btnYplusClick},
    {"btnYminusClick", &TForm1::btnYminusClick},
    {"btnManZplusClick", &TForm1::btnManZplusClick},
    {"btnManZminusClick", &TForm1::btnManZminusClick},
    {"btnSetZeroClick", &TForm1::btnSetZeroClick},
    {"btnGoHomeClick", &TForm1::btnGoHomeClick},
    {"btnIncSteps10Click", &TForm1::btnIncSteps10Click},
    {"btnIncSteps1Click", &TForm1::btnIncSteps1Click},
    {"btnIncSteps01Click", &TForm1::btnIncSteps01Click},
    {"btnIncStep001Click", &TForm1::btnIncStep001Click},
    {"btnMotorRechtsClick", &TForm1::btnMotorRechtsClick},
    {"btnMotorLinksClick", &TForm1::btnMotorLinksClick},
    {"btnMotorStopClick", &TForm1::btnMotorStopClick},
    {"btnManDollarClick", &TForm1::btnManDollarClick},
    {"btnManDollarDollarClick", &TForm1::btnManDollarDollarClick},
    {"btnManGClick", &TForm1::btnManGClick},
    {"btnSendCClick", &TForm1::btnSendCClick},
    {"btnSendHClick", &TForm1::btnSendHClick},
    {"btnSendXClick", &TForm1::btnSendXClick},
    {"btnStop1Click", &TForm1::btnStop1Click},
    {"Button1Click", &TForm1::Button1Click},
    {"btnLoadFromFileClick", &TForm1::btnLoadFromFileClick},
    {"btnStartProcessClick", &TForm1::btnStartProcessClick},
    {"btnJobPauseClick", &TForm1::btnJobPauseClick},
    {"btnJobResumeClick", &TForm1::btnJobResumeClick},
    {"btnJobStopClick", &TForm1::btnJobStopClick},
};

// Hands a control's key presses to a key-down handler and lets the control have them too.
class KeyDownFilter : public QObject {
public:
    using Handler = std::function<void(int& key, Qt::KeyboardModifiers shift)>;
    KeyDownFilter(QObject* parent, Handler handler) : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            int code = key->key();
            handler_(code, key->modifiers());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    Handler handler_;
};

[[noreturn]] void UnknownHandler(std::string_view handler) {
    throw Exception("The window has no event handler \"" + std::string(handler) + "\"");
}

void ShowWarningBox(QWidget* parent) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warnung"),
                    QStringLiteral(" Serial Connection Error "), QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

TForm1::TForm1() : QMainWindow(nullptr), TComponent(nullptr) {
    SetName("Form1");
    ShowConnectionWarning = [this] { ShowWarningBox(this); };
}

TForm1::~TForm1() {
    // Nothing ticks or is delivered into a window that is going: stop the poll, then close
    // the link while every control is still there, since closing serves the deliveries the
    // event thread still has in hand. An error while closing has nobody left to read it.
    if (Timer1) Timer1->stop();
    // No line reaches a job while the link closes.
    jobRunner_.reset();
    if (ComPort1) {
        try {
            ComPort1->SetConnected(false);
            if (link_) ComPort1->DetachLink(link_.get());
        } catch (...) {
        }
    }
    DestroyComponent();
    if (Form1 == this) Form1 = nullptr;
}

namespace {

template <typename T>
void Find(const QObject& form, T*& field, const char* name) {
    field = form.findChild<T*>(QString::fromLatin1(name));
    if (!field) throw Exception(std::string("The window has no control \"") + name + "\"");
}

}  // namespace

#define TARNWICK_FIND(field) Find(*this, field, #field)

void TForm1::FindFields() {
    TARNWICK_FIND(LMDSimplePanel1);
    TARNWICK_FIND(GroupBoxInterface);
    TARNWICK_FIND(GroupBoxProcessDisplay);
    TARNWICK_FIND(GroupBoxMonitor);
    TARNWICK_FIND(GroupBoxManualProcessing);
    TARNWICK_FIND(GroupBoxGCode);
    TARNWICK_FIND(Label3);
    TARNWICK_FIND(Label4);
    TARNWICK_FIND(ComComboBox1);
    TARNWICK_FIND(ComComboBox2);
    TARNWICK_FIND(ComLed1);
    TARNWICK_FIND(btnComConnect);
    TARNWICK_FIND(labelStatus1);
    TARNWICK_FIND(labelXwDisplay);
    TARNWICK_FIND(labelYwDisplay);
    TARNWICK_FIND(labelZwDisplay);
    TARNWICK_FIND(Label8);
    TARNWICK_FIND(Label9);
    TARNWICK_FIND(Label10);
    TARNWICK_FIND(RichEdit1);
    TARNWICK_FIND(labelStatus2);
    TARNWICK_FIND(btnterminalClear);
    TARNWICK_FIND(Label1);
    TARNWICK_FIND(Label2);
    TARNWICK_FIND(Label5);
    TARNWICK_FIND(EditManualInput);
    TARNWICK_FIND(btnYplus);
    TARNWICK_FIND(btnManXminus);
    TARNWICK_FIND(btnManXplus);
    TARNWICK_FIND(btnYminus);
    TARNWICK_FIND(btnGoHome);
    TARNWICK_FIND(btnManZplus);
    TARNWICK_FIND(btnManZminus);
    TARNWICK_FIND(btnSoftReset);
    TARNWICK_FIND(btnSendH);
    TARNWICK_FIND(btnSendC);
    TARNWICK_FIND(btnSendX);
    TARNWICK_FIND(btnManG);
    TARNWICK_FIND(btnManDollar);
    TARNWICK_FIND(btnManDollarDollar);
    TARNWICK_FIND(btnMotorRechts);
    TARNWICK_FIND(btnMotorLinks);
    TARNWICK_FIND(btnStop2);
    TARNWICK_FIND(editManualmm);
    TARNWICK_FIND(btnSetZero);
    TARNWICK_FIND(btnIncSteps1);
    TARNWICK_FIND(btnIncSteps10);
    TARNWICK_FIND(btnIncSteps01);
    TARNWICK_FIND(btnIncStep001);
    TARNWICK_FIND(editFeed);
    TARNWICK_FIND(btnMotorStop);
    TARNWICK_FIND(JvStringGrid1);
    TARNWICK_FIND(JvXPButton6);
    TARNWICK_FIND(btnStartProcess);
    TARNWICK_FIND(btnStop1);
    TARNWICK_FIND(btnJobPause);
    TARNWICK_FIND(btnJobResume);
    TARNWICK_FIND(btnJobStop);
    TARNWICK_FIND(labelJobProgress);
    TARNWICK_FIND(AdvMainMenu1);
    TARNWICK_FIND(Timer1);
}

#undef TARNWICK_FIND

void TForm1::WireClick(QObject* control, std::string_view handler) {
    for (const NamedClick& entry : kClickHandlers) {
        if (entry.name != handler) continue;
        const ClickHandler method = entry.handler;
        auto run = [this, control, method] { Guard([&] { (this->*method)(control); }); };
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            QObject::connect(button, &QAbstractButton::clicked, this, run);
        else if (auto* action = qobject_cast<QAction*>(control))
            QObject::connect(action, &QAction::triggered, this, run);
        else
            throw Exception("\"" + std::string(handler) + "\" needs a button or a menu entry");
        return;
    }
    UnknownHandler(handler);
}

void TForm1::WireTimer(QTimer* timer, std::string_view handler) {
    if (handler != "Timer1Timer") UnknownHandler(handler);
    // The poll's own gate is its guard: a failed query is reported once, not once per tick. A
    // device that has gone closes the link instead, which ends a running job.
    QObject::connect(timer, &QTimer::timeout, this, [this, timer] {
        pollGate_.Run([&] {
            try {
                Timer1Timer(timer);
            } catch (const EComPort& e) {
                if (!IsDeviceGone(e.SystemCode)) throw;
                LinkLost(e.SystemCode);
            }
        });
    });
}

void TForm1::WirePacket(TComDataPacket* framer, std::string_view handler) {
    if (handler != "ComDataPacket1Packet") UnknownHandler(handler);
    framer->OnPacket = [this](TObject* sender, const std::string& line) {
        Guard([&] { ComDataPacket1Packet(sender, line); });
        // Logged first; "F100" follows once this delivery has returned.
        if (LinkPhase() == TLinkPhase::Greeting && IsGreeting(line)) greetingTimer_->start(0);
    };
}

void TForm1::WireKeyDown(QWidget* control, std::string_view handler) {
    if (handler != "EditManualInputKeyDown") UnknownHandler(handler);
    control->installEventFilter(new KeyDownFilter(control, [this, control](int& key, Qt::KeyboardModifiers shift) {
        Guard([&] { EditManualInputKeyDown(control, key, shift); });
    }));
}

void TForm1::WireDrawCell(TGCodeGrid* grid, std::string_view handler) {
    if (handler != "JvStringGrid1DrawCell") UnknownHandler(handler);
    // The grid reports an error of its draw hook itself: painting must not unwind.
    grid->OnDrawCell = [this](TObject* sender, int col, int row, const QRect& rect,
                              TGridDrawState state) {
        JvStringGrid1DrawCell(sender, col, row, rect, state);
    };
}

void TForm1::SetOpenDialog(std::unique_ptr<TOpenDialog> dialog) {
    openDialog_ = std::move(dialog);
    LMDOpenDialog1 = openDialog_.get();
}

QTextCursor& TForm1::MonitorEnd() {
    if (!monitorEnd_) monitorEnd_ = std::make_unique<QTextCursor>(RichEdit1->document());
    monitorEnd_->movePosition(QTextCursor::End);
    return *monitorEnd_;
}

void TForm1::Einstellungen1Click(QObject*) {}
