#include "ToolpathWindow.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

namespace {

// Settings lines of a `$$` listing arrive one after the other; time the file once they stop.
constexpr int kSettingsSettleMs = 300;

QSettings Store() { return QSettings(QStringLiteral("tarnwick"), QStringLiteral("tarnwick")); }

QString Latin1(const std::string& s) { return QString::fromLatin1(s); }

}  // namespace

TToolpathWindow::TToolpathWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("ToolpathWindow"));
    setWindowTitle(QStringLiteral("Werkzeugweg"));
    resize(760, 620);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* buttons = new QHBoxLayout;
    const struct {
        const char* caption;
        const char* name;
        TToolpathView::Facing facing;
    } facings[] = {{"Oben", "btnToolpathTop", TToolpathView::Facing::Top},
                   {"Vorne", "btnToolpathFront", TToolpathView::Facing::Front},
                   {"Seite", "btnToolpathSide", TToolpathView::Facing::Side},
                   {"3D", "btnToolpathOblique", TToolpathView::Facing::Oblique}};
    view_ = new TToolpathView(this);
    view_->setObjectName(QStringLiteral("ToolpathView"));
    for (const auto& f : facings) {
        auto* b = new QPushButton(QString::fromUtf8(f.caption), this);
        b->setObjectName(QString::fromLatin1(f.name));
        const TToolpathView::Facing facing = f.facing;
        connect(b, &QPushButton::clicked, this, [this, facing] { view_->SetFacing(facing); });
        buttons->addWidget(b);
    }
    auto* fit = new QPushButton(QStringLiteral("Einpassen"), this);
    fit->setObjectName(QStringLiteral("btnToolpathFit"));
    fit->setToolTip(QStringLiteral("Den ganzen Weg zeigen"));
    connect(fit, &QPushButton::clicked, this, [this] { view_->Fit(); });
    buttons->addWidget(fit);
    buttons->addStretch(1);
    view_->setToolTip(QString::fromUtf8(
        "Rad: Zoom zum Mauszeiger\nZiehen: Verschieben\nRechts ziehen (oder Strg): Drehen"));
    layout->addLayout(buttons);
    layout->addWidget(view_, 1);

    extentsLabel_ = new QLabel(this);
    extentsLabel_->setObjectName(QStringLiteral("labelToolpathExtents"));
    extentsLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Three axes with large coordinates do not fit a narrow window on one line. The room for a
    // second line is kept: the layout of a top-level window does not grow a label that wraps.
    extentsLabel_->setWordWrap(true);
    extentsLabel_->setMinimumHeight(2 * extentsLabel_->fontMetrics().lineSpacing());
    fileLabel_ = new QLabel(this);
    fileLabel_->setObjectName(QStringLiteral("labelToolpathFile"));
    timeLabel_ = new QLabel(this);
    timeLabel_->setObjectName(QStringLiteral("labelToolpathTime"));
    QFont bold = timeLabel_->font();
    bold.setBold(true);
    timeLabel_->setFont(bold);
    layout->addWidget(extentsLabel_);
    layout->addWidget(fileLabel_);
    layout->addWidget(timeLabel_);

    settingsSettle_ = new QTimer(this);
    settingsSettle_->setSingleShot(true);
    settingsSettle_->setInterval(kSettingsSettleMs);
    connect(settingsSettle_, &QTimer::timeout, this, [this] {
        if (!fileName_.empty()) StartLoad();
    });
    ShowTexts();
}

TToolpathWindow::~TToolpathWindow() {
    SaveGeometry();
    for (Worker& w : workers_) w.cancel->store(true);
    for (Worker& w : workers_) w.thread.join();
}

void TToolpathWindow::LoadFile(const std::string& fileName) {
    fileName_ = fileName;
    rowsDone_ = 0;
    StartLoad();
}

void TToolpathWindow::StartLoad() {
    // An earlier load still running is of no use any more: it ends at its next check.
    for (Worker& w : workers_) w.cancel->store(true);
    const std::uint64_t generation = ++generation_;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    Worker& w = workers_.emplace_back();
    w.cancel = cancel;
    w.generation = generation;
    w.thread = std::thread([this, generation, cancel, fileName = fileName_,
                            settings = settings_, dialect = dialect_] {
        std::string text, error;
        auto result = std::make_shared<toolpath::LoadedPath>();
        if (toolpath::ReadWholeFile(fileName, text, error))
            *result = toolpath::LoadPath(text, dialect, settings, cancel.get());
        // The window outlives this thread (it joins it), so the event reaches it.
        Hand({generation, std::move(result), std::move(error)});
    });
    ShowTexts();
}

namespace {

QEvent::Type LoadedEventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

}  // namespace

void TToolpathWindow::Hand(Finished finished) {
    {
        std::lock_guard lock(finishedMutex_);
        finished_.push_back(std::move(finished));
    }
    QEvent* event = new QEvent(LoadedEventType());
    posted_.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(this, event);
}

bool TToolpathWindow::event(QEvent* event) {
    (void)posted_.load(std::memory_order_acquire);
    if (event->type() != LoadedEventType()) return QWidget::event(event);
    std::deque<Finished> finished;
    {
        std::lock_guard lock(finishedMutex_);
        finished.swap(finished_);
    }
    for (Finished& f : finished) Loaded(f.generation, std::move(f.result), std::move(f.error));
    return true;
}

void TToolpathWindow::Loaded(std::uint64_t generation,
                             std::shared_ptr<toolpath::LoadedPath> result, std::string error) {
    for (auto it = workers_.begin(); it != workers_.end(); ++it)
        if (it->generation == generation) {
            it->thread.join();  // it has posted its result: nothing is left to run
            workers_.erase(it);
            break;
        }
    if (generation != generation_ || result->cancelled) return;
    loadError_ = error;
    if (error.empty()) {
        path_ = result;
        view_->SetModel(result->model);
    } else {
        path_.reset();
        view_->SetModel(nullptr);
    }
    view_->SetRowsDone(rowsDone_);
    ShowTexts();
    if (OnLoaded) OnLoaded();
}

void TToolpathWindow::NoteLine(std::string_view line,
                               const std::optional<toolpath::Vec3d>& wco) {
    if (!line.empty() && line.front() == '<') {
        if (auto p = toolpath::WorkPositionOf(line, wco)) view_->SetToolPosition(*p);
        return;
    }
    if (line.starts_with("Grbl ")) {
        const gcode::Dialect d =
            line.starts_with("Grbl 0.") ? gcode::Dialect::Grbl09j : gcode::Dialect::Grbl11h;
        if (d != dialect_) {
            dialect_ = d;
            settingsSettle_->start();
        }
        return;
    }
    toolpath::MotionSettings next = settings_;
    if (toolpath::ApplySettingLine(line, next) && !(next == settings_)) {
        settings_ = next;
        settingsSettle_->start();
    }
}

void TToolpathWindow::SetRowsDone(std::uint32_t rows) {
    if (rows == rowsDone_) return;
    rowsDone_ = rows;
    view_->SetRowsDone(rows);
    ShowTexts();
}

const toolpath::TimeEstimate* TToolpathWindow::Estimate() const {
    return path_ ? &path_->estimate : nullptr;
}

double TToolpathWindow::RemainingSeconds(std::size_t rowsDone) const {
    return path_ ? path_->estimate.Remaining(rowsDone) : -1.0;
}

void TToolpathWindow::ShowTexts() {
    if (!path_ || !path_->model || path_->model->Bounds().empty) {
        extentsLabel_->setText(QString());
    } else {
        const toolpath::Extents& e = path_->model->Bounds();
        QString text;
        const char* axes[3] = {"X", "Y", "Z"};
        for (int ax = 0; ax < 3; ++ax) {
            if (ax) text += QStringLiteral("     ");
            // Kept together, so that a narrow window wraps between the axes only.
            const QChar nbsp(0x00A0);
            text += QString::fromLatin1(axes[ax]) + QChar(':') + nbsp +
                    Latin1(toolpath::MmText(e.min[ax])) + nbsp + QChar(0x2026) + nbsp +
                    Latin1(toolpath::MmText(e.max[ax])) + nbsp + QChar('(') +
                    Latin1(toolpath::MmText(e.Span(ax))) + nbsp + QStringLiteral("mm)");
        }
        extentsLabel_->setText(text);
    }

    QString file;
    if (fileName_.empty()) {
        file = QStringLiteral("Keine Datei geladen");
    } else if (!loadError_.empty()) {
        file = QString::fromUtf8("Datei kann nicht gelesen werden: ") +
               QString::fromLocal8Bit(loadError_);
    } else if (path_) {
        file = QString::number(path_->rows) + QStringLiteral(" Zeilen, ") +
               QString::number(path_->model ? path_->model->Pieces() : 0) +
               QStringLiteral(" Wegstücke");
        if (!path_->errors.empty())
            file += QStringLiteral(", ") + QString::number(path_->errors.size()) +
                    QStringLiteral(" Zeilen mit Fehler (erste: Zeile ") +
                    QString::number(path_->errors.front().row) + QStringLiteral(", error:") +
                    QString::number(path_->errors.front().status) + QStringLiteral(")");
    }
    if (Loading()) file += QString::fromUtf8(file.isEmpty() ? "Lädt …" : "  (lädt …)");
    fileLabel_->setText(file);

    QString time;
    if (path_ && loadError_.empty()) {
        time = QString::fromUtf8("Geschätzte Zeit: ") +
               Latin1(toolpath::DurationText(path_->estimate.total));
        if (rowsDone_ > 0)
            time += QStringLiteral("     Verbleibend: ") +
                    Latin1(toolpath::DurationText(path_->estimate.Remaining(rowsDone_)));
    }
    timeLabel_->setText(time);
}

void TToolpathWindow::showEvent(QShowEvent* event) {
    if (!geometryRestored_) {
        geometryRestored_ = true;
        const QByteArray g = Store().value(QStringLiteral("toolpath/geometry")).toByteArray();
        if (!g.isEmpty()) restoreGeometry(g);
    }
    QWidget::showEvent(event);
}

void TToolpathWindow::closeEvent(QCloseEvent* event) {
    SaveGeometry();
    QWidget::closeEvent(event);
}

void TToolpathWindow::SaveGeometry() const {
    if (!geometryRestored_) return;  // never shown: nothing of the user's to keep
    QSettings store = Store();
    store.setValue(QStringLiteral("toolpath/geometry"), saveGeometry());
}
