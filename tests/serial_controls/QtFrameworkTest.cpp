// The framework's hooks as the Qt application installs them.

#include <QMessageBox>
#include <thread>

#include "QtTestSupport.h"
#include "Sync.h"

namespace {

using namespace controlstest;

using QtFrameworkTest = QtTest;

TEST_F(QtFrameworkTest, AWorkersHandedOverCallRunsInTheQtEventLoop) {
    bool ran = false;
    std::thread::id ranOn;
    std::thread worker([&] {
        framework::Synchronize([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    // Only Qt events are processed here: the call runs because the wake-up posted one.
    const bool served = ServeQtUntil([&] { return ran; });
    if (!served) framework::CheckSynchronize(std::chrono::seconds(10));  // let the worker end
    worker.join();
    EXPECT_TRUE(served);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(QtFrameworkTest, ProcessMessagesRunsPendingQtEvents) {
    bool ran = false;
    QMetaObject::invokeMethod(qApp, [&] { ran = true; }, Qt::QueuedConnection);
    framework::ProcessMessages();
    EXPECT_TRUE(ran);
}

// Notes what a message box shows as it appears, and answers it.
struct BoxSeen {
    bool shown = false;
    QString title, text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(BoxSeen& seen) : seen_(seen) { qApp->installEventFilter(this); }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show && !seen_.shown) {
            seen_.shown = true;
            seen_.title = box->windowTitle();
            seen_.text = box->text();
            seen_.format = box->textFormat();
            seen_.icon = box->icon();
            QMetaObject::invokeMethod(box, &QMessageBox::accept, Qt::QueuedConnection);
        }
        return false;
    }

private:
    BoxSeen& seen_;
};

// Runs `report` with the Qt error report installed; returns what the box showed.
template <typename Fn>
BoxSeen AnswerErrorBox(Fn report) {
    BoxSeen seen;
    BoxAnswerer answerer(seen);
    InstallQtFrameworkHooks();
    report();
    ServeQtUntil([&] { return seen.shown; }, std::chrono::seconds(10));
    RecordErrors();
    return seen;
}

TEST_F(QtFrameworkTest, TheDefaultErrorReportIsAMessageBoxWithTheMessage) {
    const BoxSeen seen = AnswerErrorBox([] {
        framework::Guarded([] { throw Exception("<b>Port</b> gone"); });
    });
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, QStringLiteral("Tarnwick tests"));
    EXPECT_EQ(seen.text, QStringLiteral("<b>Port</b> gone"));
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST_F(QtFrameworkTest, AnErrorReportedOnAnotherThreadIsShownOnTheGuiThread) {
    std::thread worker;
    const BoxSeen seen = AnswerErrorBox([&] {
        worker = std::thread([] {
            framework::ShowException(std::make_exception_ptr(Exception("from the worker")));
        });
    });
    worker.join();
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.text, QStringLiteral("from the worker"));
}

TEST_F(QtFrameworkTest, RemovingTheHooksRestoresTheFrameworksOwnBehaviour) {
    RemoveQtFrameworkHooks();
    bool ran = false;
    QMetaObject::invokeMethod(qApp, [&] { ran = true; }, Qt::QueuedConnection);
    framework::ProcessMessages();  // now only the handed-over calls
    EXPECT_FALSE(ran);
    InstallQtFrameworkHooks();
    RecordErrors();
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
}

}  // namespace
