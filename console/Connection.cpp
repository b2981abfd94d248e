// Connecting to the controller, waiting for it to greet, letting it go, and losing it.

#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

#include "ChannelText.h"
#include "ConnectionView.h"
#include "ImageButton.h"
#include "JobRunner.h"
#include "UnitMain.h"

namespace {

struct TransitionScope {
    explicit TransitionScope(int& count) : count_(count) { ++count_; }
    ~TransitionScope() { --count_; }
    TransitionScope(const TransitionScope&) = delete;
    TransitionScope& operator=(const TransitionScope&) = delete;
    int& count_;
};

}  // namespace

void TForm1::btnConnectPortClick(QObject*) {
    // A click served inside the port's own open or close: the one under way decides, and the
    // controls follow the port once it is done.
    if (transitions_ > 0) return;
    const TransitionScope busy(transitions_);
    if (ComPort1->Connected()) {
        // The job ends first, so nothing of it is written while the port closes.
        if (JobActive()) jobRunner_->Abort(job::EndReason::Disconnected);
        // Unguarded: an error while closing goes to the default report. The controls follow
        // the close through the window's link.
        ComPort1->SetConnected(false);
        return;
    }

    ComDataPacket1->SetStopString("\n");
    // A line cut off by the last disconnect is still in the framer; the stop string is LF
    // already from the second connect on, so nothing else would drop it, and it would be glued
    // onto the first line of this connection.
    ComDataPacket1->ResetBuffer();
    // Another controller, or the same one after a reset, has its own offset.
    WorkOffset = {};
    unanswered_.clear();
    // A failing poll on this connection is news, whatever the last one reported.
    pollGate_.Rearm();
    try {
        ComPort1->SetConnected(true);
    } catch (...) {
        // The port's own message stays out of the dialog.
        ShowConnectionWarning();
    }
    ApplyConnectionView();
}

TLinkPhase TForm1::LinkPhase() const {
    if (!ComPort1 || !ComPort1->Connected()) return TLinkPhase::Closed;
    return greeted_ ? TLinkPhase::Ready : TLinkPhase::Greeting;
}

void TForm1::ApplyConnectionView() {
    const TConnectionView view = ConnectionViewFor(LinkPhase());
    btnComConnect->setText(QString::fromLatin1(view.Caption));
    GroupBoxMonitor->setEnabled(view.MonitorEnabled);
    GroupBoxManualProcessing->setEnabled(view.ManualEnabled);
    btnStartProcess->setEnabled(view.StartEnabled);
    btnStop1->setEnabled(view.StopEnabled);
    // Started only once "F100" has gone out (GreetingDone).
    if (!view.PollRunning) Timer1->stop();
}

// The port has opened. A board that resets on open is deaf in its boot loader for up to about
// 2 s: "F100" and the poll wait for the controller's greeting, or for the wait to run out.
// Other links hear of the open first, and the lamp lets pending events run there, so the
// greeting may have been seen, or even answered, already: the state of a connection is reset
// when the last one closes, never here.
void TForm1::LinkOpened() {
    ApplyConnectionView();
    if (!greeted_ && !greetingTimer_->isActive()) greetingTimer_->start(kGreetingWaitMs);
}

void TForm1::LinkClosed() {
    // A close nobody asked for through Disconnect or a lost link: the job still ends before the
    // controls follow, or it would give back the controls it had taken.
    if (JobActive())
        framework::Guarded([this] {
            jobRunner_->Abort(lossReported_ ? job::EndReason::LinkLost
                                            : job::EndReason::Disconnected);
        });
    greetingTimer_->stop();  // a close during the wait cancels it
    greeted_ = false;
    lossReported_ = false;
    ++openings_;  // news of this connection that is still on its way is stale now
    ApplyConnectionView();
    if (OnLinkClosed) OnLinkClosed();
}

void TForm1::GreetingDone() {
    if (LinkPhase() != TLinkPhase::Greeting) return;
    greeted_ = true;
    ApplyConnectionView();
    try {
        SendCommand(std::string(kConnectCommand));
    } catch (const EComPort& e) {
        if (IsDeviceGone(e.SystemCode)) throw;
        ShowConnectionWarning();
        return;
    } catch (...) {
        ShowConnectionWarning();
        return;
    }
    Timer1->start();
    if (OnLinkReady) OnLinkReady();
}

void TForm1::ControllerReset() {
    if (LinkPhase() != TLinkPhase::Ready) return;
    // The reset drops whatever the controller held: no answer comes for a line before it.
    unanswered_.clear();
    greeted_ = false;
    ApplyConnectionView();
    greetingTimer_->start(kGreetingWaitMs);
}

void TForm1::LinkLost(int systemError) noexcept {
    if (lossReported_ || !ComPort1 || !ComPort1->Connected()) return;
    lossReported_ = true;
    const std::string message = LinkLostMessage(ComPort1->Port(), systemError);
    // The job ends first, with its note in the monitor; the dialog below is the one report.
    if (JobActive())
        framework::Guarded([this] { jobRunner_->Abort(job::EndReason::LinkLost); });
    {
        const TransitionScope busy(transitions_);
        try {
            ComPort1->SetConnected(false);
        } catch (...) {
            // Closing a device that has gone may fail as well: that is the same news.
        }
    }
    // Also when the close failed: the controls show the port as it is.
    ApplyConnectionView();
    if (OnLinkLost) framework::Guarded([&] { OnLinkLost(message); });
    framework::ShowException(std::make_exception_ptr(Exception(message)));
}

void TForm1::Loaded() {
    TComponent::Loaded();
    greetingTimer_ = new QTimer(this);
    greetingTimer_->setSingleShot(true);
    QObject::connect(greetingTimer_, &QTimer::timeout, this,
                     [this] { Guard([this] { GreetingDone(); }); });
    link_ = std::make_unique<TComLink>();
    link_->OnConnection = [this](TObject*, bool on) {
        if (on)
            LinkOpened();
        else
            LinkClosed();
    };
    ComPort1->AttachLink(link_.get());
    // The event thread hears a hang-up before any write fails. Acted on after the delivery
    // has returned, and only on the connection it was heard on.
    ComPort1->OnError = [this](TObject*, TComErrors errors) {
        if (!errors.Contains(ceIO)) return;
        const std::uint64_t opening = openings_;
        QTimer::singleShot(0, this, [this, opening] {
            if (opening == openings_) LinkLost(EIO);
        });
    };
}
