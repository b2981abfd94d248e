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

void TForm1::WriteCommandLine(const std::string& wire) {
    // Booked before the write, which may serve deliveries: an answer that arrives meanwhile
    // finds its line. Lines written during a job are not the window's: the job counts its own.
    const bool booked = !JobActive();
    if (booked) unanswered_.push_back(wire.size());
    try {
        ComPort1->WriteText(wire);
    } catch (...) {
        // Not gone out: no answer will come for it.
        if (booked && !unanswered_.empty()) unanswered_.pop_back();
        throw;
    }
}

void TForm1::TrackReply(const std::string& line) {
    const job::ReplyKind kind = job::ClassifyReply(line).kind;
    if ((kind == job::ReplyKind::Ok || kind == job::ReplyKind::Error) && !unanswered_.empty())
        unanswered_.pop_front();
    if (kind == job::ReplyKind::Greeting) unanswered_.clear();
}

void TForm1::btnStartProcessClick(QObject*) {
    // Only once the controller has greeted and "F100" has gone out: before, the job's first
    // lines would be lost in the controller's boot.
    if (LinkPhase() != TLinkPhase::Ready || JobActive()) return;
    if (JvStringGrid1->FileLineCount() == 0) {
        AddMonitorText(MonitorEntry("Keine G-Code-Datei geladen"), kSentColour);
        return;
    }
    const std::vector<std::size_t> foreign(unanswered_.begin(), unanswered_.end());
    ToolpathFollowJob();
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
