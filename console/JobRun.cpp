// Running the loaded file: "Start Process", pause, resume and stop; the book of the window's
// own lines, so a job started right after one counts its answer in.

#include <QPainter>

#include "ChannelText.h"
#include "GCodeGrid.h"
#include "JobRunner.h"
#include "UnitMain.h"

TJobRunner& TForm1::JobRunner() {
    if (!jobRunner_) jobRunner_ = std::make_unique<TJobRunner>(*this);
    return *jobRunner_;
}

bool TForm1::JobActive() const {
    return jobRunner_ && jobRunner_->Active();
}

void TForm1::JobLinkLost() {
    if (JobActive()) jobRunner_->Abort(job::EndReason::LinkLost);
}

void TForm1::NoteLineWritten(std::size_t bytes) {
    // Lines written during a job are not the window's: the job counts its own.
    if (!JobActive()) unanswered_.push_back(bytes);
}

void TForm1::TrackReply(const std::string& line) {
    const job::ReplyKind kind = job::ClassifyReply(line).kind;
    if ((kind == job::ReplyKind::Ok || kind == job::ReplyKind::Error) && !unanswered_.empty())
        unanswered_.pop_front();
    if (kind == job::ReplyKind::Greeting) unanswered_.clear();
}

void TForm1::btnStartProcessClick(QObject*) {
    if (!ComPort1->Connected() || JobActive()) return;
    if (JvStringGrid1->FileLineCount() == 0) {
        AddMonitorText(MonitorEntry("Keine G-Code-Datei geladen"), kSentColour);
        return;
    }
    const std::vector<std::size_t> foreign(unanswered_.begin(), unanswered_.end());
    JobRunner().Start(foreign);
    // From here on the job keeps the count; what it counted in is no longer the window's.
    if (JobActive()) unanswered_.clear();
}

void TForm1::btnJobPauseClick(QObject*) {
    if (JobActive()) jobRunner_->Pause();
}

void TForm1::btnJobResumeClick(QObject*) {
    if (JobActive()) jobRunner_->Resume();
}

void TForm1::btnJobStopClick(QObject*) {
    if (JobActive()) jobRunner_->Stop();
}
