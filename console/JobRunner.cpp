#include "JobRunner.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "CPortCtl.h"
#include "ChannelText.h"
#include "Errors.h"
#include "GCodeGrid.h"
#include "ImageButton.h"
#include "UnitMain.h"

namespace {

using job::Clock;
using job::RowState;

constexpr TRgb kProblemColour{192, 0, 0};

void Log(TForm1& form, const std::string& utf8, TRgb colour) {
    // The monitor takes Latin-1; the job's notes are German.
    const QByteArray latin1 = QString::fromUtf8(utf8).toLatin1();
    AddMonitorText(MonitorEntry(latin1.toStdString()), colour);
    form.RichEdit1->moveCursor(QTextCursor::End);
    form.RichEdit1->ensureCursorVisible();
}

QColor Tint(RowState state) {
    switch (state) {
    case RowState::Sent:
        return {255, 200, 0, 70};
    case RowState::Acknowledged:
        return {0, 160, 0, 45};
    case RowState::Error:
        return {220, 0, 0, 90};
    case RowState::Skipped:
        return {128, 128, 128, 35};
    case RowState::Pending:
        break;
    }
    return {};
}

} // namespace

TJobRunner::TJobRunner(TForm1& form) : form_(form), job_(*this) {
    timer_.setInterval(kRefreshMs);
    QObject::connect(&timer_, &QTimer::timeout, this,
                     [this] { framework::Guarded([this] { Refresh(); }); });
    job_.OnRowsDone = [this](std::size_t done) {
        if (RowsDone) RowsDone(done);
    };
}

TJobRunner::~TJobRunner() = default;

void TJobRunner::Start(std::span<const std::size_t> foreign) {
    following_ = true;
    lastScroll_ = -1;
    job_.Start(*this, Clock::now(), foreign);
    ApplyView();
}

void TJobRunner::Pause() {
    job_.Pause(Clock::now());
    ApplyView();
}

void TJobRunner::Resume() {
    job_.Resume(Clock::now());
    ApplyView();
}

void TJobRunner::Stop() {
    job_.Stop(Clock::now());
    ApplyView();
}

void TJobRunner::Abort(job::EndReason reason) {
    job_.Abort(reason, Clock::now());
    ApplyView();
}

void TJobRunner::LineReceived(const std::string& line) {
    const job::Job::Phase before = job_.GetPhase();
    job_.LineReceived(line, Clock::now());
    if (job_.GetPhase() != before) ApplyView();
}

void TJobRunner::Forget() {
    job_.ClearRows();
    form_.labelJobProgress->clear();
}

void TJobRunner::WriteLine(std::string_view bytes) { Write(std::string(bytes)); }

void TJobRunner::WriteRealTime(char byte) { Write(std::string(1, byte)); }

void TJobRunner::Write(const std::string& bytes) {
    try {
        form_.ComPort1->WriteText(bytes);
    } catch (const EComPort& e) {
        // The job ends on any failed write; a device that has gone also closes the link, once
        // the job's end is noted (Notify).
        if (IsDeviceGone(e.SystemCode)) deviceGone_ = e.SystemCode;
        throw;
    }
}

void TJobRunner::Notify(const job::Notice& n) {
    const bool problem = n.kind == job::Notice::Error || n.kind == job::Notice::Alarm ||
                         n.kind == job::Notice::Refused ||
                         (n.kind == job::Notice::Ended && n.reason != job::EndReason::Completed);
    Log(form_, job::NoticeText(n), problem ? kProblemColour : kSentColour);
    if (n.kind == job::Notice::Started) timer_.start();
    if (n.kind != job::Notice::Ended) return;
    timer_.stop();
    Refresh();
    ApplyView();
    // A reset in between (ours or the controller's) forgot the work offset, as after the
    // emergency stop.
    if (n.reason == job::EndReason::Stopped || n.reason == job::EndReason::Reset ||
        n.reason == job::EndReason::Alarm)
        form_.btnGoHome->setEnabled(false);
    // As after the emergency stop: a known feed again for the jogs that carry none, once the
    // reset controller has greeted (what arrives during its reset is lost).
    if (n.reason == job::EndReason::Stopped) form_.ControllerReset();
    // Last: it closes the port and tells the operator, the job's note is already in the monitor.
    if (deviceGone_) {
        const int code = *deviceGone_;
        deviceGone_.reset();
        form_.LinkLost(code);
    }
}

std::size_t TJobRunner::LineCount() const {
    return form_.JvStringGrid1->FileLineCount();
}

std::string TJobRunner::Line(std::size_t index) const {
    return std::string(form_.JvStringGrid1->FileLine(index));
}

void TJobRunner::Refresh() {
    const auto now = Clock::now();
    job_.Tick(now);
    const job::Progress p = job_.GetProgress(now);
    const auto remaining = job::RemainingSeconds(p, Estimate.SecondsBefore ? &Estimate : nullptr);
    form_.labelJobProgress->setText(QString::fromUtf8(job::ProgressText(p, remaining)));
    form_.JvStringGrid1->viewport()->update();
    if (job_.Active()) Follow(p.executing);
}

void TJobRunner::Follow(std::size_t line) {
    TGCodeGrid& grid = *form_.JvStringGrid1;
    const int row = grid.RowOfFileLine(line);
    QScrollBar* bar = grid.verticalScrollBar();
    // Moved since our last scroll: the operator looks elsewhere, until the running row is in
    // view again.
    if (lastScroll_ >= 0 && bar->value() != lastScroll_)
        following_ = !grid.CellRect(0, row).isEmpty();
    if (!following_) return;
    grid.scrollTo(grid.model()->index(row, 0), QAbstractItemView::PositionAtCenter);
    lastScroll_ = bar->value();
}

void TJobRunner::ApplyView() {
    using Phase = job::Job::Phase;
    const Phase phase = job_.GetPhase();
    const bool active = job_.Active();
    if (active && locked_.empty()) {
        // Everything that writes command lines; the soft reset and the emergency stop stay.
        // The port and baud selectors too: another port or rate in mid-job would send the
        // rest of the file elsewhere or garble it.
        std::vector<QWidget*> candidates = {form_.btnStartProcess, form_.JvXPButton6,
                                            form_.ComComboBox1, form_.ComComboBox2};
        for (QWidget* w : form_.GroupBoxManualProcessing->findChildren<QWidget*>(
                 QString(), Qt::FindDirectChildrenOnly))
            if (w != static_cast<QWidget*>(form_.btnSoftReset) &&
                w != static_cast<QWidget*>(form_.btnStop2))
                candidates.push_back(w);
        for (QWidget* w : candidates) {
            if (!w->isEnabledTo(w->parentWidget())) continue;
            w->setEnabled(false);
            locked_.push_back(w);
        }
    } else if (!active) {
        for (QWidget* w : locked_)
            w->setEnabled(true);
        locked_.clear();
    }
    form_.btnJobPause->setEnabled(phase == Phase::Running || phase == Phase::Finishing);
    form_.btnJobResume->setEnabled(phase == Phase::Paused || phase == Phase::ErrorHold);
    form_.btnJobStop->setEnabled(active && phase != Phase::Stopping);
}

void TJobRunner::DrawCell(QPainter& p, int col, int row, const QRect& rect) const {
    const std::int64_t line =
        static_cast<std::int64_t>(row) - form_.JvStringGrid1->RowOfFileLine(0);
    if (line < 0 || static_cast<std::size_t>(line) >= job_.RowCount()) return;
    const RowState state = job_.Row(static_cast<std::size_t>(line));
    const bool executing =
        job_.Active() && static_cast<std::size_t>(line) == job_.GetProgress(Clock::now()).executing;
    if (executing)
        p.fillRect(rect, QColor(0, 110, 220, 80));
    else if (state != RowState::Pending)
        p.fillRect(rect, Tint(state));
    // Marks at the right end of " Sent" and " Accept", so a comment the file put there stays.
    const int h = rect.height();
    const QRectF mark(rect.right() - h + 6, rect.top() + 5, h - 10, h - 10);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    const bool sent =
        state == RowState::Sent || state == RowState::Acknowledged || state == RowState::Error;
    if (col == 1 && sent) {
        // An arrow head: gone to the controller.
        QPolygonF head;
        head << mark.topLeft() << QPointF(mark.right(), mark.center().y()) << mark.bottomLeft();
        p.setBrush(QColor(40, 40, 40));
        p.drawPolygon(head);
    } else if (col == 2 && state == RowState::Acknowledged) {
        p.setPen(QPen(QColor(0, 120, 0), 2.2));
        p.drawPolyline(QPolygonF{{mark.left(), mark.center().y()},
                                 {mark.left() + mark.width() * 0.4, mark.bottom()},
                                 {mark.right(), mark.top()}});
    } else if (col == 2 && state == RowState::Error) {
        p.setPen(QPen(QColor(200, 0, 0), 2.2));
        p.drawLine(mark.topLeft(), mark.bottomRight());
        p.drawLine(mark.topRight(), mark.bottomLeft());
    }
    p.restore();
}
