#pragma once
// The console's one window: its controls and components, and its event handlers.
//
// The window is composed from its design description (app/), which constructs every control
// under its name; the form then finds its fields by those names and wires each event to the
// handler the description names. The handlers live in one source file per concern:
// CommandChannel.cpp, Status.cpp, Connection.cpp. Every handler runs through one guard, so an
// error it does not catch goes to the default error report and the window stays usable.

#include <QMainWindow>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "CPort.h"
#include "ComDataPacket.h"
#include "GCodeGrid.h"
#include "Component.h"
#include "ChannelText.h"
#include "ConnectionView.h"
#include "ReportGate.h"
#include "StatusReport.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTextCursor;
class QTimer;
class TComComboBox;
class TComLed;
class TImageButton;
class TJobRunner;
class TOpenDialog;
class TSpinEdit;
class TToolpathWindow;

class TForm1 : public QMainWindow, public TComponent {
public:
    TForm1();
    ~TForm1() override;
    const char* ClassName() const override { return "TForm1"; }

    // --- background and group boxes ---
    QWidget* LMDSimplePanel1 = nullptr;
    QGroupBox* GroupBoxInterface = nullptr;
    QGroupBox* GroupBoxProcessDisplay = nullptr;
    QGroupBox* GroupBoxMonitor = nullptr;
    QGroupBox* GroupBoxManualProcessing = nullptr;
    QGroupBox* GroupBoxGCode = nullptr;

    // --- " Serial Interface " ---
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TComComboBox* ComComboBox1 = nullptr;
    TComComboBox* ComComboBox2 = nullptr;
    TComLed* ComLed1 = nullptr;
    QPushButton* btnComConnect = nullptr;

    // --- " Process Display " ---
    QLabel* labelStatus1 = nullptr;
    QLabel* labelXwDisplay = nullptr;
    QLabel* labelYwDisplay = nullptr;
    QLabel* labelZwDisplay = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;

    // --- " Monitor " ---
    QPlainTextEdit* RichEdit1 = nullptr;
    QLabel* labelStatus2 = nullptr;
    QPushButton* btnterminalClear = nullptr;

    // --- " Manual Process " ---
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* EditManualInput = nullptr;
    TImageButton* btnYplus = nullptr;
    TImageButton* btnManXminus = nullptr;
    TImageButton* btnManXplus = nullptr;
    TImageButton* btnYminus = nullptr;
    TImageButton* btnGoHome = nullptr;
    TImageButton* btnManZplus = nullptr;
    TImageButton* btnManZminus = nullptr;
    QPushButton* btnSoftReset = nullptr;
    QPushButton* btnSendH = nullptr;
    QPushButton* btnSendC = nullptr;
    QPushButton* btnSendX = nullptr;
    QPushButton* btnManG = nullptr;
    QPushButton* btnManDollar = nullptr;
    QPushButton* btnManDollarDollar = nullptr;
    TImageButton* btnMotorRechts = nullptr;
    TImageButton* btnMotorLinks = nullptr;
    TImageButton* btnStop2 = nullptr;
    TSpinEdit* editManualmm = nullptr;
    QPushButton* btnSetZero = nullptr;
    QPushButton* btnIncSteps1 = nullptr;
    QPushButton* btnIncSteps10 = nullptr;
    QPushButton* btnIncSteps01 = nullptr;
    QPushButton* btnIncStep001 = nullptr;
    TSpinEdit* editFeed = nullptr;
    TImageButton* btnMotorStop = nullptr;

    // --- " G-Code File Process " ---
    TGCodeGrid* JvStringGrid1 = nullptr;
    TImageButton* JvXPButton6 = nullptr;
    TImageButton* btnStartProcess = nullptr;
    TImageButton* btnStop1 = nullptr;
    TImageButton* btnJobPause = nullptr;
    TImageButton* btnJobResume = nullptr;
    TImageButton* btnJobStop = nullptr;
    QLabel* labelJobProgress = nullptr;

    // --- menu and non-visual components ---
    QMenuBar* AdvMainMenu1 = nullptr;
    TComPort* ComPort1 = nullptr;
    TComDataPacket* ComDataPacket1 = nullptr;
    QTimer* Timer1 = nullptr;
    TOpenDialog* LMDOpenDialog1 = nullptr;

    // --- event handlers ---
    // Command channel (CommandChannel.cpp)
    void ComDataPacket1Packet(TObject* Sender, const std::string& Str);
    void btnterminalClearClick(QObject* Sender);
    void btnSoftResetClick(QObject* Sender);
    // Status (Status.cpp)
    void Timer1Timer(QObject* Sender);
    // Connection (Connection.cpp)
    void btnConnectPortClick(QObject* Sender);
    // The menu entry "Einstellungen": it has no function yet.
    void Einstellungen1Click(QObject* Sender);
    // Toolpath (Toolpath.cpp): "Ansicht" / "Werkzeugweg" shows the toolpath window.
    void Werkzeugweg1Click(QObject* Sender);
    // The toolpath window, made when first needed; it lives as long as the form.
    TToolpathWindow* Toolpath();
    // Whether the toolpath window exists yet (a class without its own meta-object cannot be
    // looked up among the children by type).
    bool ToolpathMade() const { return toolpath_ != nullptr; }
    // A job about to start: its progress drawn on the path, its remaining time from the
    // path's estimate when that is of the file in the grid.
    void ToolpathFollowJob();
    // Manual panel (ManualPanel.cpp)
    void btnManXplusClick(QObject* Sender);
    void btnManXminusClick(QObject* Sender);
    void btnYplusClick(QObject* Sender);
    void btnYminusClick(QObject* Sender);
    void btnManZplusClick(QObject* Sender);
    void btnManZminusClick(QObject* Sender);
    void btnSetZeroClick(QObject* Sender);
    void btnGoHomeClick(QObject* Sender);
    void btnIncSteps10Click(QObject* Sender);
    void btnIncSteps1Click(QObject* Sender);
    void btnIncSteps01Click(QObject* Sender);
    void btnIncStep001Click(QObject* Sender);
    void btnMotorRechtsClick(QObject* Sender);
    void btnMotorLinksClick(QObject* Sender);
    void btnMotorStopClick(QObject* Sender);
    void btnManDollarClick(QObject* Sender);
    void btnManDollarDollarClick(QObject* Sender);
    void btnManGClick(QObject* Sender);
    void btnSendCClick(QObject* Sender);
    void btnSendHClick(QObject* Sender);
    void btnSendXClick(QObject* Sender);
    // The emergency stop of both "Not-Stop" buttons.
    void btnStop1Click(QObject* Sender);
    // Enter (either key, any modifiers) sends the typed line; the key is not consumed.
    void EditManualInputKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift);
    // A button that is never shown; it does nothing.
    void Button1Click(QObject* Sender);
    // G-code view (GCodeView.cpp)
    void btnLoadFromFileClick(QObject* Sender);
    void JvStringGrid1DrawCell(TObject* Sender, int ACol, int ARow, const QRect& Rect,
                               TGridDrawState State);
    // Running the loaded file (JobRun.cpp)
    void btnStartProcessClick(QObject* Sender);
    void btnJobPauseClick(QObject* Sender);
    void btnJobResumeClick(QObject* Sender);
    void btnJobStopClick(QObject* Sender);

    // --- composition, used by the design loader ---
    // Finds every field above among the window's children by its name; throws for one that
    // is missing or of another kind.
    void FindFields();
    // Wires a control's event to the handler of that name; throws for an unknown name.
    void WireClick(QObject* control, std::string_view handler);
    void WireTimer(QTimer* timer, std::string_view handler);
    void WirePacket(TComDataPacket* framer, std::string_view handler);
    void WireKeyDown(QWidget* control, std::string_view handler);
    void WireDrawCell(TGCodeGrid* grid, std::string_view handler);
    // The file-open dialog is a plain object owned by the window.
    void SetOpenDialog(std::unique_ptr<TOpenDialog> dialog);

    // A cursor kept at the end of the monitor for appending: one that stays with the
    // document costs far less per line than a new one each time.
    QTextCursor& MonitorEnd();

    // Shows the connection warning; tests put their own in its place.
    std::function<void()> ShowConnectionWarning;

    // The work offset of the connected controller, from its status reports.
    TWorkOffset WorkOffset;

    // --- the link to the controller, for whatever else talks to it (a job runner) ---
    // Closed whenever the port is; after each open, and after a reset the window wrote,
    // Greeting until the controller has greeted (or the wait for it ran out), then Ready.
    TLinkPhase LinkPhase() const;
    // Called on the GUI thread. OnLinkReady: the controller can take lines ("F100" written, the
    // poll running). OnLinkClosed: after every close, whatever its cause. OnLinkLost: the
    // device has gone; called after that close, before the operator is told `message`.
    std::function<void()> OnLinkReady;
    std::function<void(const std::string& message)> OnLinkLost;
    std::function<void()> OnLinkClosed;
    // Runs `fn` as the window runs its own handlers: an error it does not catch goes to the
    // default error report, except that a failure meaning the device has gone (IsDeviceGone)
    // closes the link instead (LinkLost).
    template <typename Fn>
    void Guard(Fn&& fn) noexcept;
    // The device has gone: closes the port as "Disconnect" does and tells the operator, once
    // per connection however many writes fail. For a writer that catches EComPort itself.
    void LinkLost(int systemError) noexcept;

    // After the design is loaded: the window starts following its port.
    void Loaded() override;

    // A soft reset was written: the controller starts again and hears nothing before it has
    // greeted. The link waits for the greeting as after an open (Greeting), then writes
    // "F100" and polls again. Nothing while the link is not Ready.
    void ControllerReset();

    // The job that runs the loaded file; made on first use. It ends before the link closes,
    // whatever closes it; Start Process runs one only while the link is Ready.
    TJobRunner& JobRunner();
    bool JobActive() const;
    // Writes one of the window's own command lines (`wire`, its CR included) and keeps it in
    // the book of lines whose answer is still to come (a job started before it arrives counts
    // it as outstanding in the controller's buffer); a line whose write fails is not kept.
    void WriteCommandLine(const std::string& wire);

private:
    // The controls from the port's state and the greeting; stops the poll when not Ready.
    void ApplyConnectionView();
    void LinkOpened();
    void LinkClosed();
    void GreetingDone();

    // Keeps the book of the window's own lines: answers retire them, a reset clears them.
    void TrackReply(const std::string& line);

    std::unique_ptr<TOpenDialog> openDialog_;
    std::unique_ptr<TJobRunner> jobRunner_;
    std::deque<std::size_t> unanswered_;
    TToolpathWindow* toolpath_ = nullptr;
    std::unique_ptr<QTextCursor> monitorEnd_;
    // Failed status queries report once, not once per tick.
    TReportGate pollGate_;

    // The window's own listener on the port: the controls follow every open and close.
    std::unique_ptr<TComLink> link_;
    // The wait for the greeting after an open; fired at once when the greeting arrives.
    QTimer* greetingTimer_ = nullptr;
    bool greeted_ = false;
    bool lossReported_ = false;
    // Connects, disconnects and link losses under way: a click that arrives meanwhile (the
    // lamp lets pending events run inside the port's open and close) is ignored.
    int transitions_ = 0;
    // Counts closes, so news of a device gone is not applied to a later connection.
    std::uint64_t openings_ = 0;
};

template <typename Fn>
void TForm1::Guard(Fn&& fn) noexcept {
    try {
        fn();
    } catch (const EComPort& e) {
        if (IsDeviceGone(e.SystemCode))
            LinkLost(e.SystemCode);
        else
            framework::ShowCurrentException();
    } catch (...) {
        framework::ShowCurrentException();
    }
}

// The one window, for the routines below; null while there is none.
extern TForm1* Form1;

// Writes the command with a CR, then logs it in green: only a line that went out is logged.
void SendCommand(const std::string& command);
// Appends `text` (with whatever line ending the caller gives) at the end of the monitor in
// "Arial" 8 pt and the given colour; neither scrolls nor moves focus.
void AddMonitorText(const std::string& text, TRgb colour);
// Applies one status report line to the five status labels.
void ShowStatusReport(const std::string& line);
// The toolpath window's share of what the console sees (Toolpath.cpp): every received line
// (status reports move the tool, `$$` settings and the greeting retime the file) and every
// G-code file loaded into the grid.
void ToolpathNoteLine(const std::string& line);
void ToolpathNoteFile(const std::string& fileName);
