#include "QtFramework.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "Errors.h"
#include "Sync.h"

namespace {

void ShowErrorBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    // The message is the error's text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// Other threads reach the GUI thread by posting an empty event to the application; what they
// hand over travels beside it, through a queue of our own under a mutex. Nothing of ours is
// then made on one thread and freed on the other behind Qt's uninstrumented locking, so the
// thread sanitizer checks every hand-over of our data.
enum class Posted { Wake, ShowError };

QEvent::Type EventType(Posted what) {
    static const QEvent::Type wake = static_cast<QEvent::Type>(QEvent::registerEventType());
    static const QEvent::Type showError = static_cast<QEvent::Type>(QEvent::registerEventType());
    return what == Posted::Wake ? wake : showError;
}

// Qt's posted-event queue orders an event's making on one thread before its delivery on the
// GUI thread, but behind locks the thread sanitizer cannot see. This counter states that order
// where it can: released by the poster, acquired before the filter reads the event.
std::atomic<unsigned> postedCount{0};

void Post(Posted what) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QEvent* event = new QEvent(EventType(what));
        postedCount.fetch_add(1, std::memory_order_release);
        QCoreApplication::postEvent(app, event);
    }
}

// Error texts reported on other threads, shown in order on the GUI thread.
struct PendingErrors {
    std::mutex mutex;
    std::deque<std::string> texts;

    void Push(std::string text) {
        std::lock_guard lock(mutex);
        texts.push_back(std::move(text));
    }
    std::optional<std::string> Pop() {
        std::lock_guard lock(mutex);
        if (texts.empty()) return std::nullopt;
        std::string text = std::move(texts.front());
        texts.pop_front();
        return text;
    }
};

PendingErrors& Pending() {
    static PendingErrors pending;
    return pending;
}

// Runs the posted events on the GUI thread, as a filter on the application object.
class PostedEvents : public QObject {
public:
    static constexpr const char* kName = "tarnwick-posted-events";
    explicit PostedEvents(QObject* app) : QObject(app) { setObjectName(QLatin1String(kName)); }

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (target != parent()) return false;
        (void)postedCount.load(std::memory_order_acquire);
        if (event->type() == EventType(Posted::Wake)) {
            framework::CheckSynchronize();
            return true;
        }
        if (event->type() == EventType(Posted::ShowError)) {
            // One box per event: the box's own event loop may meet the next one.
            if (std::optional<std::string> text = Pending().Pop())
                ShowErrorBox(QString::fromLocal8Bit(*text));
            return true;
        }
        return false;
    }
};

void ReportError(const std::string& message) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        ShowErrorBox(QString::fromLocal8Bit(message));
        return;
    }
    Pending().Push(message);
    Post(Posted::ShowError);
}

}  // namespace

void InstallQtFrameworkHooks() {
    QCoreApplication* app = QCoreApplication::instance();
    // Once per application object, however often the hooks are installed.
    if (app && !app->findChild<QObject*>(QLatin1String(PostedEvents::kName),
                                         Qt::FindDirectChildrenOnly))
        app->installEventFilter(new PostedEvents(app));
    // Called from the thread that queued work; the event loop runs it on the GUI thread.
    framework::SetWakeMainThread([] { Post(Posted::Wake); });
    framework::SetProcessMessages([] { QCoreApplication::processEvents(); });
    framework::SetDefaultErrorReport(ReportError);
}

void RemoveQtFrameworkHooks() {
    framework::SetWakeMainThread(nullptr);
    framework::SetProcessMessages(nullptr);
    framework::SetDefaultErrorReport(nullptr);
}
