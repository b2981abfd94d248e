// The manual control panel: jogging, work zero, spindle, system commands, the emergency stop
// and the manual input line. Each action is one fixed command text (or a fixed sequence) on
// the command channel; the panel's only state is whether "Home / Zero" can be pressed.

#include <QLineEdit>

#include "ChannelText.h"
#include "ImageButton.h"
#include "JobRunner.h"
#include "JogLine.h"
#include "SpinEdit.h"
#include "UnitMain.h"

namespace {

// The distance as the field holds it and the feed as a whole number; the lines carry no range
// check of their own.
std::string XYJog(const TForm1& form, std::string_view axisWord) {
    return jog::XYLine(axisWord, form.editManualmm->Value(), form.editFeed->Value(),
                       LocaleDecimalSeparator());
}

std::string ZJog(const TForm1& form, std::string_view head) {
    return jog::ZLine(head, form.editManualmm->Value(), LocaleDecimalSeparator());
}

constexpr std::string_view kEmergencyNote = "Not-Stop, System-Reset. Bitte Nullpunkt neu setzten";

}  // namespace

void TForm1::btnManXplusClick(QObject*) { SendCommand(XYJog(*this, " G1 X")); }
void TForm1::btnManXminusClick(QObject*) { SendCommand(XYJog(*this, " G1 X-")); }
void TForm1::btnYplusClick(QObject*) { SendCommand(XYJog(*this, " G1 Y")); }
void TForm1::btnYminusClick(QObject*) { SendCommand(XYJog(*this, " G1 Y-")); }
// Z moves at the feed the controller was given last: no F word.
void TForm1::btnManZplusClick(QObject*) { SendCommand(ZJog(*this, "G91 G1 Z")); }
void TForm1::btnManZminusClick(QObject*) { SendCommand(ZJog(*this, "G91 G1 Z-")); }

void TForm1::btnSetZeroClick(QObject*) {
    SendCommand("G92 X0 Y0 Z0");
    // Only once the line is written: a failed write leaves "Home / Zero" as it was.
    btnGoHome->setEnabled(true);
}

void TForm1::btnGoHomeClick(QObject*) { SendCommand("G90 G0 X0 Y0 Z0"); }

// The step buttons change the arrow step only: the distance stays, nothing is sent.
void TForm1::btnIncSteps10Click(QObject*) { editManualmm->SetIncrement(10); }
void TForm1::btnIncSteps1Click(QObject*) { editManualmm->SetIncrement(1); }
void TForm1::btnIncSteps01Click(QObject*) { editManualmm->SetIncrement(0.1); }
void TForm1::btnIncStep001Click(QObject*) { editManualmm->SetIncrement(0.01); }

void TForm1::btnMotorRechtsClick(QObject*) { SendCommand("M3"); }
void TForm1::btnMotorLinksClick(QObject*) { SendCommand("M4"); }
void TForm1::btnMotorStopClick(QObject*) { SendCommand("M5"); }

void TForm1::btnManDollarClick(QObject*) { SendCommand("$"); }
void TForm1::btnManDollarDollarClick(QObject*) { SendCommand("$$"); }
void TForm1::btnManGClick(QObject*) { SendCommand("$G"); }
void TForm1::btnSendCClick(QObject*) { SendCommand("$C"); }
void TForm1::btnSendHClick(QObject*) { SendCommand("$H"); }
void TForm1::btnSendXClick(QObject*) { SendCommand("$X"); }

void TForm1::btnStop1Click(QObject*) {
    if (JobActive()) JobRunner().Abort(job::EndReason::Emergency);
    // Disabled before anything is written: after a stop the work zero is no longer known,
    // even if a write below fails.
    btnGoHome->setEnabled(false);
    SendCommand("!");
    ComPort1->WriteText(std::string(kSoftReset));
    // A known feed again, "F100", once the controller has started anew: what arrives while it
    // resets is lost, and after a reset in motion it hears nothing for half a second.
    ControllerReset();
    AddMonitorText(MonitorEntry(kEmergencyNote), kSentColour);
}

void TForm1::EditManualInputKeyDown(QObject*, int& Key, Qt::KeyboardModifiers) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    // Written first, then logged; a refused line or a failed write leaves the text in the
    // field, unlogged.
    const std::string wire = WireLine(TypedLine(EditManualInput->text().toStdString()));
    WriteCommandLine(wire);
    AddMonitorText(MonitorEntry(TypedLine(EditManualInput->text().toStdString())), kSentColour);
    EditManualInput->clear();
}

void TForm1::Button1Click(QObject*) {}
