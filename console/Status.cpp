// The status poll and the status labels.

#include <QLabel>

#include "ChannelText.h"
#include "StatusReport.h"
#include "UnitMain.h"

namespace {

std::string TextOf(const QLabel* label) { return label->text().toLatin1().toStdString(); }
void SetTextOf(QLabel* label, const std::string& text) {
    label->setText(QString::fromLatin1(text));
}

}  // namespace

void ShowStatusReport(const std::string& line) {
    TForm1& form = *Form1;
    const TStatusTexts shown = ParseStatusReport(
        {TextOf(form.labelStatus1), TextOf(form.labelStatus2), TextOf(form.labelXwDisplay),
         TextOf(form.labelYwDisplay), TextOf(form.labelZwDisplay)},
        line, form.WorkOffset);
    SetTextOf(form.labelStatus1, shown.State1);
    SetTextOf(form.labelStatus2, shown.State2);
    SetTextOf(form.labelXwDisplay, shown.X);
    SetTextOf(form.labelYwDisplay, shown.Y);
    SetTextOf(form.labelZwDisplay, shown.Z);
}

void TForm1::Timer1Timer(QObject*) { ComPort1->WriteText(std::string(kStatusQuery)); }
