// Connecting to the controller and letting it go.

#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

#include "ChannelText.h"
#include "ConnectionView.h"
#include "ImageButton.h"
#include "JobRunner.h"
#include "UnitMain.h"

void TForm1::btnConnectPortClick(QObject*) {
    if (ComPort1->Connected()) {
        if (JobActive()) JobRunner().Abort(job::EndReason::Disconnected);
        // Unguarded: an error while closing goes to the default report.
        ComPort1->SetConnected(false);
        ApplyConnectionView(false);
        return;
    }

    ComDataPacket1->SetStopString("\n");
    // A line cut off by the last disconnect is still in the framer; the stop string is LF
    // already from the second connect on, so nothing else would drop it, and it would be glued
    // onto the first line of this connection.
    ComDataPacket1->ResetBuffer();
    // Another controller, or the same one after a reset, has its own offset.
    WorkOffset = {};
    unanswered_.clear();
    // A failing poll on this connection is news, whatever the last one reported.
    pollGate_.Rearm();
    try {
        ComPort1->SetConnected(true);
        ApplyConnectionView(true);
    } catch (...) {
        // The port's own message stays out of the dialog.
        ShowConnectionWarning();
    }
}

void TForm1::ApplyConnectionView(bool connected) {
    const TConnectionView view = ConnectionViewFor(connected);
    btnComConnect->setText(QString::fromLatin1(view.Caption));
    GroupBoxMonitor->setEnabled(view.MonitorEnabled);
    GroupBoxManualProcessing->setEnabled(view.ManualEnabled);
    btnStartProcess->setEnabled(view.StartEnabled);
    btnStop1->setEnabled(view.StopEnabled);
    if (connected) SendCommand(std::string(kConnectCommand));
    if (view.PollRunning)
        Timer1->start();
    else
        Timer1->stop();
}
