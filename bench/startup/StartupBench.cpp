// Start-up time: from starting the process to the console window shown (offscreen), the
// median of 10 starts. The program starts itself as the child that shows the window; the
// child reports on a pipe once the window is exposed, and the parent takes the time.
//
// Last line: startup ms: T

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Application.h"
#include "FormLoader.h"
#include "QtFramework.h"
#include "UnitMain.h"

extern char** environ;

namespace {

constexpr int kStarts = 10;

// Says "shown" once the window is exposed, and ends the event loop.
class ExposeWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window && window->isExposed() && !said_) {
            said_ = true;
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool said_ = false;
};

int ShowWindow(int argc, char* argv[]) {
    QApplication app(argc, argv);
    PrepareApplication();
    std::unique_ptr<TForm1> form = CreateForm1();
    ExposeWatch watch;
    form->winId();  // creates the window handle, so the watch sees its first expose
    form->windowHandle()->installEventFilter(&watch);
    ShowCentred(*form);
    QTimer::singleShot(30000, [] { QCoreApplication::quit(); });  // never shown: give up
    QApplication::exec();
    form.reset();
    RemoveQtFrameworkHooks();
    return 0;
}

// One start: milliseconds until the child says "shown"; negative on failure.
double TimeOneStart(const char* self) {
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char child[] = "child";
    char* args[] = {const_cast<char*>(self), child, nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    double ms = -1;
    if (rc == 0) {
        char buf[16] = {};
        pollfd pfd{out[0], POLLIN, 0};
        if (poll(&pfd, 1, 60000) > 0 && read(out[0], buf, sizeof buf - 1) > 0 &&
            std::strncmp(buf, "shown", 5) == 0)
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        waitpid(pid, nullptr, 0);
    }
    close(out[0]);
    return ms;
}

}  // namespace

int main(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc > 1 && std::strcmp(argv[1], "child") == 0) return ShowWindow(argc, argv);

    std::vector<double> times;
    for (int i = 0; i < kStarts; ++i) {
        const double ms = TimeOneStart("/proc/self/exe");
        if (ms < 0) {
            std::fprintf(stderr, "start %d: the window was not shown\n", i + 1);
            return 1;
        }
        std::printf("start %d: %.1f ms\n", i + 1, ms);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("startup ms: %.1f\n", (times[kStarts / 2 - 1] + times[kStarts / 2]) / 2);
    return 0;
}
