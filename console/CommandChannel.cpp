// The command channel: lines out to the controller, lines in from it, and the monitor log.

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "ChannelText.h"
#include "JobRunner.h"
#include "UnitMain.h"

namespace {

QTextCharFormat MonitorRun(TRgb colour) {
    QTextCharFormat run;
    run.setForeground(QColor(colour.r, colour.g, colour.b));
    run.setFontFamilies({QStringLiteral("Arial")});
    run.setFontPointSize(8);
    return run;
}

}  // namespace

void AddMonitorText(const std::string& text, TRgb colour) {
    // A cursor of its own at the end: the operator's caret and the scroll position stay.
    Form1->MonitorEnd().insertText(QString::fromLatin1(MonitorLines(text)), MonitorRun(colour));
}

void SendCommand(const std::string& command) {
    // Logged only once written: the monitor never shows a line that did not go out.
    Form1->WriteCommandLine(WireLine(command));
    AddMonitorText(MonitorEntry(command), kSentColour);
}

void TForm1::ComDataPacket1Packet(TObject*, const std::string& Str) {
    if (IsStatusReport(Str)) {
        ShowStatusReport(Str);
        ToolpathNoteLine(Str);
        if (JobActive()) JobRunner().LineReceived(Str);
        return;
    }
    ToolpathNoteLine(Str);
    if (JobActive()) {
        // A job's answers stay out of the monitor (a long file would flood it); it reports an
        // error itself, with its row and in plain words.
        const job::ReplyKind kind = job::ClassifyReply(Str).kind;
        JobRunner().LineReceived(Str);
        if (kind == job::ReplyKind::Ok || kind == job::ReplyKind::Error) return;
    } else {
        TrackReply(Str);
    }
    AddMonitorText(MonitorEntry(Str), kReceivedColour);
    RichEdit1->setFocus(Qt::OtherFocusReason);
    RichEdit1->moveCursor(QTextCursor::End);
    RichEdit1->ensureCursorVisible();
    // As when tabbed into: the next key typed replaces the whole text.
    EditManualInput->setFocus(Qt::TabFocusReason);
    EditManualInput->selectAll();
}

void TForm1::btnterminalClearClick(QObject*) { RichEdit1->clear(); }

void TForm1::btnSoftResetClick(QObject*) {
    if (JobActive()) JobRunner().Abort(job::EndReason::Reset);
    ComPort1->WriteText(std::string(kSoftReset));
}
