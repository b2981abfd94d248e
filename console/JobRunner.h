#pragma once
// Runs the loaded file for the window: the job's lines and bytes go to the port, its notes to
// the monitor, its row states onto the grid; a timer keeps the progress line and the grid's
// view on the running row, unless the operator scrolled away. While a job runs nothing else
// writes command lines: the controls that would are disabled, the two emergency stops and the
// soft reset stay.

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Job.h"

class QPainter;
class QRect;
class QWidget;
class TForm1;

class TJobRunner : public QObject, private job::Output, private job::LineSource {
public:
    explicit TJobRunner(TForm1& form);
    ~TJobRunner() override;

    bool Active() const { return job_.Active(); }
    const job::Job& Job() const { return job_; }

    // `foreign`: bytes of the window's lines still unanswered.
    void Start(std::span<const std::size_t> foreign);
    void Pause();
    void Resume();
    void Stop();
    void Abort(job::EndReason reason);
    void LineReceived(const std::string& line);
    // Another file was loaded: the last job's rows and progress no longer apply.
    void Forget();

    // Draws a row's state over a cell the grid has drawn, leaving its text readable.
    void DrawCell(QPainter& painter, int col, int row, const QRect& rect) const;

    // Rows answered so far, for other views (the tool path).
    std::function<void(std::size_t done)> RowsDone;
    // Per-row time estimate for the remaining time; empty: extrapolated from the pace.
    job::RowTimeEstimate Estimate;

    static constexpr int kRefreshMs = 100;

private:
    // job::Output
    void WriteLine(std::string_view bytes) override;
    void WriteRealTime(char byte) override;
    void Notify(const job::Notice& notice) override;
    // job::LineSource: the grid's model
    std::size_t LineCount() const override;
    std::string Line(std::size_t index) const override;

    void Write(const std::string& bytes);
    void Refresh();
    void ApplyView();
    void Follow(std::size_t line);

    TForm1& form_;
    job::Job job_;
    QTimer timer_;
    std::vector<QWidget*> locked_; // controls disabled for the job's run
    std::optional<int> deviceGone_; // the system error of a write that found the device gone
    bool following_ = true;
    int lastScroll_ = -1;
};
