#pragma once
// The toolpath window: the view, its view buttons, the path's extent in numbers and the
// estimated time. A file is read, interpreted, timed and given its levels of detail on a
// worker thread; the window shows what it had until the new path is ready, so it never waits.

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "ControllerText.h"
#include "PathLoad.h"
#include "ToolpathView.h"

class QLabel;
class QTimer;

class TToolpathWindow : public QWidget {
public:
    explicit TToolpathWindow(QWidget* parent = nullptr);
    ~TToolpathWindow() override;

    // Reads and draws the file (again, when the controller's settings change).
    void LoadFile(const std::string& fileName);
    // A line the controller sent: a status report moves the tool (`wco`: the work offset
    // known from earlier reports), a `$$` line of a motion setting times the file anew, the
    // greeting tells which controller version plans the moves.
    void NoteLine(std::string_view line, const std::optional<toolpath::Vec3d>& wco);
    // A job has done grid rows 1..rows; 0 when no job runs.
    void SetRowsDone(std::uint32_t rows);
    std::uint32_t RowsDone() const { return rowsDone_; }

    // The time still to run after grid rows 1..rowsDone, in seconds; negative while the
    // file's estimate is not known.
    double RemainingSeconds(std::size_t rowsDone) const;
    const toolpath::TimeEstimate* Estimate() const;
    // The path on show with its estimate; it outlives a later load for whoever holds it.
    std::shared_ptr<const toolpath::LoadedPath> Path() const { return path_; }
    const toolpath::MotionSettings& Settings() const { return settings_; }
    bool Loading() const { return !workers_.empty(); }

    TToolpathView* View() const { return view_; }
    // Called on the GUI thread each time a path has been loaded (tests wait on it).
    std::function<void()> OnLoaded;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> cancel;
        std::uint64_t generation;
    };
    // What a worker hands over: kept under a mutex, the window told by an empty posted event.
    struct Finished {
        std::uint64_t generation;
        std::shared_ptr<toolpath::LoadedPath> result;
        std::string error;
    };
    void StartLoad();
    void Hand(Finished finished);
    void Loaded(std::uint64_t generation, std::shared_ptr<toolpath::LoadedPath> result,
                std::string error);
    void ShowTexts();
    void SaveGeometry() const;

    TToolpathView* view_;
    QLabel* extentsLabel_;
    QLabel* fileLabel_;
    QLabel* timeLabel_;
    QTimer* settingsSettle_;

    std::string fileName_;
    std::string loadError_;
    std::shared_ptr<const toolpath::LoadedPath> path_;
    toolpath::MotionSettings settings_;
    gcode::Dialect dialect_ = gcode::Dialect::Grbl11h;
    std::uint32_t rowsDone_ = 0;
    std::uint64_t generation_ = 0;
    std::mutex finishedMutex_;
    std::deque<Finished> finished_;
    // Qt's posted-event queue orders a worker's event before its delivery, but behind locks the
    // thread sanitizer cannot see; this counter states that order where it can.
    std::atomic<unsigned> posted_{0};
    std::list<Worker> workers_;
    bool geometryRestored_ = false;
};
