// The toolpath window beside the main window: opened from the menu, fed with the loaded file
// and the controller's lines.

#include <optional>

#include "JobRunner.h"
#include "ToolpathWindow.h"
#include "UnitMain.h"

TToolpathWindow* TForm1::Toolpath() {
    // A child of the form (a window of its own), so it goes with the form.
    if (!toolpath_) toolpath_ = new TToolpathWindow(this);
    return toolpath_;
}

void TForm1::Werkzeugweg1Click(QObject*) {
    TToolpathWindow* w = Toolpath();
    w->show();
    w->raise();
    w->activateWindow();
}

void ToolpathNoteLine(const std::string& line) {
    if (!Form1) return;
    // Status reports only matter to a window that exists; settings and the greeting are kept
    // for the estimate of a file loaded later.
    if (!line.empty() && line.front() == '<') {
        if (!Form1->ToolpathMade()) return;
    } else if (line.empty() || (line.front() != '$' && !line.starts_with("Grbl "))) {
        return;
    }
    std::optional<toolpath::Vec3d> wco;
    if (Form1->WorkOffset.Known) wco = Form1->WorkOffset.Axes;
    Form1->Toolpath()->NoteLine(line, wco);
}

void ToolpathNoteFile(const std::string& fileName) {
    if (Form1) Form1->Toolpath()->LoadFile(fileName);
}

void TForm1::ToolpathFollowJob() {
    TJobRunner& runner = JobRunner();
    runner.RowsDone = [this](std::size_t done) {
        if (toolpath_) toolpath_->SetRowsDone(static_cast<std::uint32_t>(done));
    };
    if (toolpath_) toolpath_->SetRowsDone(0);
    // The planner's estimate, when the path on show is the file in the grid; otherwise the job
    // extrapolates from its pace.
    runner.Estimate = {};
    const std::shared_ptr<const toolpath::LoadedPath> path = toolpath_ ? toolpath_->Path() : nullptr;
    if (!path || path->cancelled || path->rows != JvStringGrid1->FileLineCount() ||
        path->estimate.finishedAt.size() != path->rows + 1)
        return;
    runner.Estimate.total = path->estimate.total;
    runner.Estimate.SecondsBefore = [path](std::size_t row) {
        return path->estimate.total - path->estimate.Remaining(row);
    };
}
