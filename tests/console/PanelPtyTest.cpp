// The manual panel and the G-code view in the window, with the test playing the controller on
// the far end of a pseudo-terminal.

#include <sys/stat.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <functional>
#include <system_error>

#include "CPortCtl.h"
#include "ChannelText.h"
#include "GCodeGrid.h"
#include "ImageButton.h"
#include "JobRunner.h"
#include "LocaleScope.h"
#include "OpenDialog.h"
#include "SpinEdit.h"
#include "TempDir.h"
#include "WindowTestSupport.h"

namespace {

using namespace windowtest;
using consoletest::TempDir;
using consoletest::LocaleScope;

const QColor kGreen(0, 128, 0);
const QString kNote = QStringLiteral("Not-Stop, System-Reset. Bitte Nullpunkt neu setzten");

class PanelPty : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_FALSE(pty_.path.empty());
        form_->ComPort1->SetPort(pty_.path);
        Connect();
    }
    // Connects, takes the first command off the wire and stops the poll, so only what the
    // test causes is written from here on.
    void Connect() {
        form_->btnComConnect->click();
        ASSERT_TRUE(form_->ComPort1->Connected());
        Greet();
    }
    // The controller greets (after an open or a reset): "F100" follows, then the poll, which
    // is stopped again.
    void Greet() {
        ASSERT_EQ(form_->LinkPhase(), TLinkPhase::Greeting);
        pty_.Send("Grbl 0.9j ['$' for help]\r\n");  // the controller is ready
        ASSERT_EQ(pty_.Read(5), "F100\r");
        form_->Timer1->stop();
        const std::string polled = pty_.Read(64, 50);
        ASSERT_EQ(polled.find_first_not_of('?'), std::string::npos) << polled;
    }
    // The last `n` lines of the monitor (without the empty one after the last break).
    QStringList LastLines(int n) const {
        QStringList lines = MonitorLines();
        lines.removeLast();
        return lines.mid(lines.size() - n);
    }
    // What the console wrote, as many bytes as `expected` has.
    std::string Wire(const std::string& expected) { return pty_.Read(expected.size()); }
    QColor LastColour() const { return LineColour(int(MonitorLines().size()) - 2); }

    Pty pty_;
};

TEST_F(PanelPty, EveryButtonSendsItsLineInEitherLocale) {
    struct Locale {
        QLocale locale;
        const char* distance;  // 0.25 as the field shows it
    };
    for (const Locale& l : {Locale{QLocale(QLocale::German, QLocale::Germany), "0,25"},
                            Locale{QLocale::c(), "0.25"}}) {
        LocaleScope scope(l.locale);
        ASSERT_TRUE(scope.Switched());
        form_->editManualmm->SetValue(0.25);
        form_->editFeed->SetValue(300);
        ASSERT_EQ(form_->editManualmm->Text(), l.distance);
        const struct {
            QAbstractButton* button;
            std::string line;
        } cases[] = {
            {form_->btnManXplus, "G91 F300 G1 X0.25"}, {form_->btnManXminus, "G91 F300 G1 X-0.25"},
            {form_->btnYplus, "G91 F300 G1 Y0.25"},    {form_->btnYminus, "G91 F300 G1 Y-0.25"},
            {form_->btnManZplus, "G91 G1 Z0.25"},      {form_->btnManZminus, "G91 G1 Z-0.25"},
            {form_->btnMotorRechts, "M3"},             {form_->btnMotorLinks, "M4"},
            {form_->btnMotorStop, "M5"},               {form_->btnManDollar, "$"},
            {form_->btnManDollarDollar, "$$"},         {form_->btnManG, "$G"},
            {form_->btnSendC, "$C"},                   {form_->btnSendH, "$H"},
            {form_->btnSendX, "$X"},                   {form_->btnSetZero, "G92 X0 Y0 Z0"},
            {form_->btnGoHome, "G90 G0 X0 Y0 Z0"},
        };
        for (const auto& c : cases) {
            c.button->click();
            EXPECT_EQ(pty_.Read(c.line.size() + 1), c.line + "\r");
            EXPECT_EQ(LastLines(1), QStringList{QString::fromLatin1(c.line)});
            EXPECT_EQ(LastColour(), kGreen);
        }
    }
}

TEST_F(PanelPty, StepButtonsChangeTheStepOnlyAndUnreadableFieldsReadZero) {
    LocaleScope scope(QLocale(QLocale::German, QLocale::Germany));
    form_->editManualmm->SetValue(0.5);
    form_->btnIncSteps10->click();
    EXPECT_EQ(form_->editManualmm->Text(), "0,5");
    EXPECT_EQ(pty_.Read(1, 100), "");  // nothing sent
    QTest::keyClick(form_->editManualmm, Qt::Key_Up);
    form_->btnIncStep001->click();
    for (int i = 0; i < 10; ++i) QTest::keyClick(form_->editManualmm, Qt::Key_Up);
    form_->btnManXplus->click();
    EXPECT_EQ(Wire("G91 F100 G1 X10.6\r"), "G91 F100 G1 X10.6\r");

    form_->editManualmm->SetText("abc");
    form_->editFeed->SetText("12,5");
    form_->btnManXplus->click();
    EXPECT_EQ(Wire("G91 F0 G1 X0\r"), "G91 F0 G1 X0\r");
}

TEST_F(PanelPty, EmergencyStopOnBothButtonsAndHomeZeroState) {
    EXPECT_FALSE(form_->btnGoHome->isEnabled());
    for (QAbstractButton* stop : {static_cast<QAbstractButton*>(form_->btnStop2),
                                  static_cast<QAbstractButton*>(form_->btnStop1)}) {
        form_->btnSetZero->click();
        ASSERT_EQ(pty_.Read(13), "G92 X0 Y0 Z0\r");
        EXPECT_TRUE(form_->btnGoHome->isEnabled());
        stop->click();
        // "F100" waits for the reset controller's greeting: sent at once, it would be lost.
        EXPECT_EQ(pty_.Read(64, 200), std::string("!\r\x18"));
        EXPECT_FALSE(form_->btnGoHome->isEnabled());
        EXPECT_FALSE(form_->GroupBoxManualProcessing->isEnabled());
        EXPECT_EQ(LastLines(2), (QStringList{"!", kNote}));
        ASSERT_NO_FATAL_FAILURE(Greet());
        EXPECT_TRUE(form_->GroupBoxManualProcessing->isEnabled());
        EXPECT_FALSE(form_->btnGoHome->isEnabled());
        EXPECT_EQ(LastLines(4), (QStringList{"!", kNote, "Grbl 0.9j ['$' for help]", "F100"}));
        for (int back : {2, 4, 5})
            EXPECT_EQ(LineColour(int(MonitorLines().size()) - back), kGreen);
    }

    // Connecting again leaves "Home / Zero" alone.
    form_->btnSetZero->click();
    ASSERT_EQ(pty_.Read(13), "G92 X0 Y0 Z0\r");
    form_->btnComConnect->click();
    EXPECT_TRUE(form_->btnGoHome->isEnabledTo(form_->GroupBoxManualProcessing));
    Connect();
    EXPECT_TRUE(form_->btnGoHome->isEnabled());

    // A stop whose first write fails has disabled "Home / Zero" already; the rest is skipped,
    // and the line that did not go out is not logged.
    pty_.Hangup();
    const QStringList before = MonitorLines();
    form_->btnStop1->click();
    EXPECT_EQ(TakeReportedErrors().size(), 1u);
    EXPECT_FALSE(form_->btnGoHome->isEnabled());
    EXPECT_EQ(MonitorLines(), before);
}

TEST_F(PanelPty, AJobWriteThatFindsTheDeviceGoneClosesTheLinkWithOneReport) {
    const TempDir dir;
    const std::string path = dir.File("job.nc", "G21 G90\nG1 F600 X5\nG1 X10\n");
    form_->JvStringGrid1->LoadCsvFile(path, ';', '"', true);
    form_->JvStringGrid1->ShowAsGCodeTable();
    form_->btnStartProcess->click();
    ASSERT_TRUE(form_->JobRunner().Active());
    EXPECT_EQ(pty_.Read(22), "G21G90\rG1F600X5\rG1X10\r");
    EXPECT_FALSE(form_->EditManualInput->isEnabled());

    // The pause's feed hold is the job's next write; it finds the device gone before the
    // port's event thread is heard.
    pty_.Hangup();
    form_->btnJobPause->click();
    EXPECT_FALSE(form_->JobRunner().Active());
    EXPECT_FALSE(form_->ComPort1->Connected());
    EXPECT_EQ(TakeReportedErrors().size(), 1u);
    // Whatever the port's event thread still delivers: no second report, no second note.
    ServeQtUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(TakeReportedErrors().empty());
    int notes = 0;
    for (const QString& line : MonitorLines())
        notes += line.startsWith("Job beendet, Verbindung zur Steuerung verloren");
    EXPECT_EQ(notes, 1);
    // The job gave its controls back before the link took them.
    EXPECT_EQ(form_->btnComConnect->text(), "Connect");
    EXPECT_FALSE(form_->btnStartProcess->isEnabled());
    EXPECT_FALSE(form_->GroupBoxManualProcessing->isEnabled());
    EXPECT_TRUE(form_->ComComboBox1->isEnabled());
}

TEST_F(PanelPty, ManualInputSendsOnEnterWithAnyModifier) {
    QLineEdit* input = form_->EditManualInput;
    const struct {
        const char* typed;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } cases[] = {
        {"G0 X1", Qt::Key_Return, Qt::ShiftModifier},
        {"", Qt::Key_Return, Qt::NoModifier},
        {" $$ ", Qt::Key_Enter, Qt::KeypadModifier},
        {"g1", Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier},
    };
    for (const auto& c : cases) {
        input->setText(QString::fromLatin1(c.typed));
        QTest::keyClick(input, c.key, c.modifiers);
        EXPECT_EQ(pty_.Read(std::strlen(c.typed) + 1), std::string(c.typed) + "\r");
        EXPECT_EQ(LastLines(1), QStringList{QString::fromLatin1(c.typed)});
        EXPECT_TRUE(input->text().isEmpty());
    }
    // A character the controller cannot read (not sent as "?" or a byte above 0x7F) and a
    // pasted line break or control byte (a second command, a reset): the line stays in the
    // field, unsent and unlogged.
    const QStringList before = MonitorLines();
    for (const QString& refused : {QStringLiteral("G0 X\u22125"), QStringLiteral("G0 X10\r\nG0 Y20"),
                                   QStringLiteral("G0 X1\x18")}) {
        input->setText(refused);
        QTest::keyClick(input, Qt::Key_Return);
        EXPECT_EQ(TakeReportedErrors().size(), 1u);
        EXPECT_EQ(pty_.Read(1, 100), "");
        EXPECT_EQ(MonitorLines(), before);
        EXPECT_EQ(input->text(), refused);
    }
    // The field holds no more than a controller line.
    input->setText(QString(200, u'G'));
    EXPECT_EQ(input->text(), QString(kTypedLineMax, u'G'));

    input->setText("G0");
    QTest::keyClick(input, Qt::Key_Tab);
    QTest::keyClick(input, Qt::Key_A);
    EXPECT_EQ(pty_.Read(1, 100), "");  // other keys send nothing
}

using GCodeView = WindowTest;

TEST_F(GCodeView, LoadsTheChosenFileAndMarksN1G71) {
    const TempDir dir;
    const std::string path =
        dir.File("Fräsjob ü.nc", "N1 G71\r\nG1 X10 Y5 ; move to start\r\nn1 g71\r\n");
    AnswerFileDialog([&](QFileDialog& d) {
        ChooseFile(d, QFile::decodeName(path.c_str()));
        static_cast<QDialog&>(d).accept();  // as the Open button does
    });
    form_->JvXPButton6->click();
    EXPECT_EQ(form_->LMDOpenDialog1->DefaultExt, QStringLiteral(".*"));
    EXPECT_EQ(form_->LMDOpenDialog1->Filter, QStringLiteral("Files (*.*)|*.*"));

    TGCodeGrid& g = *form_->JvStringGrid1;
    ASSERT_EQ(g.RowCount(), 4);
    EXPECT_EQ(g.Cells(0, 0), " Command");
    EXPECT_EQ(g.Cells(3, 0), " Comment");
    EXPECT_EQ(g.Cells(1, 2), " move to start");
    // Marked wherever the whole text matches: in a selected row and in the header too.
    g.SetCells(2, 0, "N1 G71");
    g.SetCells(1, 2, "N1 G71 ");
    g.selectRow(0);  // the first body row, grid row 1
    const QImage shot = g.grab().toImage();
    const struct {
        int col, row;
        bool marked;
    } cells[] = {{0, 1, true}, {2, 0, true}, {0, 3, false}, {0, 0, false}, {1, 2, false}};
    for (const auto& c : cells) {
        const QRect r = g.CellRect(c.col, c.row);
        const QColor seen = shot.pixelColor(r.right() - 3, r.center().y());
        EXPECT_EQ(seen == QColor(255, 255, 0), c.marked) << c.col << "," << c.row;
    }

    // Cancelled: nothing changes.
    AnswerFileDialog([](QFileDialog& d) { d.reject(); });
    form_->JvXPButton6->click();
    EXPECT_EQ(g.RowCount(), 4);
}

TEST_F(GCodeView, AFileThatCannotBeOpenedIsReportedAndTheGridStays) {
    const TempDir dir;
    const std::string fifo = dir.Path() + "/pipe.nc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    AnswerFileDialog([&](QFileDialog& d) {
        ChooseFile(d, QFile::decodeName(fifo.c_str()));
        static_cast<QDialog&>(d).accept();  // as the Open button does
    });
    form_->JvXPButton6->click();
    EXPECT_EQ(TakeReportedErrors(),
              std::vector<std::string>{"Datei " + fifo + " kann nicht geöffnet werden. " +
                                       std::generic_category().message(ENOTSUP)});
    EXPECT_EQ(form_->JvStringGrid1->RowCount(), 8);
    EXPECT_EQ(form_->JvStringGrid1->Cells(0, 0), "");
}

}  // namespace
