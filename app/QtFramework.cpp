#include "QtFramework.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <cstdio>

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

void ReportError(const std::string& message) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return;
    }
    const QString text = QString::fromLocal8Bit(message);
    if (QThread::currentThread() == app->thread())
        ShowErrorBox(text);
    else
        QMetaObject::invokeMethod(app, [text] { ShowErrorBox(text); }, Qt::QueuedConnection);
}

}  // namespace

void InstallQtFrameworkHooks() {
    framework::SetWakeMainThread([] {
        // Called from the thread that queued work; the event loop runs it on the GUI thread.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { framework::CheckSynchronize(); }, Qt::QueuedConnection);
    });
    framework::SetProcessMessages([] { QCoreApplication::processEvents(); });
    framework::SetDefaultErrorReport(ReportError);
}

void RemoveQtFrameworkHooks() {
    framework::SetWakeMainThread(nullptr);
    framework::SetProcessMessages(nullptr);
    framework::SetDefaultErrorReport(nullptr);
}
