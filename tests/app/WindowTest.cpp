// The window as designed: start-up state, selectors, geometry at two densities, the resize
// rule, the menu, disabled panels, the connection warning and the default error report.

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "CPortCtl.h"
#include "FakeTtyClass.h"
#include "ImageButton.h"
#include "SpinEdit.h"
#include "ToolpathWindow.h"
#include "WindowTestSupport.h"

namespace {

using namespace windowtest;

TEST_F(WindowTest, StartsDisconnectedWithEverythingInItsFirstState) {
    TForm1& f = *form_;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("     Tarnwick  v0.1"));
    EXPECT_FALSE(f.ComPort1->Connected());
    EXPECT_EQ(f.ComLed1->State(), lsOff);
    EXPECT_EQ(f.btnComConnect->text(), QStringLiteral("Connect"));
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 200);
    const struct {
        QWidget* widget;
        bool enabled;
    } enabled[] = {
        {f.GroupBoxInterface, true},   {f.GroupBoxProcessDisplay, true},
        {f.GroupBoxMonitor, false},    {f.GroupBoxManualProcessing, false},
        {f.GroupBoxGCode, true},       {f.btnStartProcess, false},
        {f.btnStop1, false},           {f.btnGoHome, false},
        {f.JvXPButton6, true},         {f.ComComboBox1, true},
    };
    for (const auto& e : enabled) EXPECT_EQ(e.widget->isEnabled(), e.enabled) << e.widget->objectName().toStdString();
    for (QLabel* label : {f.labelStatus1, f.labelStatus2, f.labelXwDisplay, f.labelYwDisplay, f.labelZwDisplay})
        EXPECT_EQ(label->text(), QStringLiteral(" ----- "));
    EXPECT_EQ(f.RichEdit1->toPlainText(), QStringLiteral("\n"));  // one empty line
    EXPECT_EQ(f.editManualmm->Value(), 0.0);
    EXPECT_EQ(f.editFeed->Value(), 100.0);
    EXPECT_EQ(f.btnYplus->toolTip(), QStringLiteral("+ Y"));
    EXPECT_EQ(f.btnYplus->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(f.btnStop2->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(WindowTest, ReceivedTextIsShownAsTextNeverAsMarkup) {
    TForm1& f = *form_;
    ShowStatusReport("<Idle,MPos:0,0,0,WPos:<b>7</b>,<i>2</i>,3>\r");
    EXPECT_EQ(f.labelXwDisplay->text(), QStringLiteral("<b>7</b>"));
    EXPECT_EQ(f.labelYwDisplay->text(), QStringLiteral("<i>2</i>"));
    for (QLabel* label : {f.labelStatus1, f.labelStatus2, f.labelXwDisplay, f.labelYwDisplay, f.labelZwDisplay})
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

TEST_F(WindowTest, SelectorsStartFromThePortWhateverPortsThereAre) {
    form_.reset();
    const struct {
        std::vector<std::string> ports;
        std::string shown;
    } cases[] = {{{}, ""}, {{"ttyS2", "ttyUSB0"}, ""}, {{"ttyS2", "COM1"}, "COM1"}};
    for (const auto& c : cases) {
        FakeTtyClass tree;
        for (const std::string& p : c.ports) tree.AddPort(p);
        SetTtyClassDir(tree.Dir());
        std::unique_ptr<TForm1> form = CreateForm1(1.0);
        SetTtyClassDir("");
        EXPECT_EQ(form->ComComboBox1->count(), int(c.ports.size()));
        EXPECT_EQ(form->ComComboBox1->Text(), c.shown);
        EXPECT_EQ(form->ComComboBox2->count(), 16);
        EXPECT_EQ(form->ComComboBox2->ItemIndex(), 13);
        EXPECT_EQ(form->ComComboBox2->Text(), "115200");
        // Nothing was applied to the port on the way.
        EXPECT_EQ(form->ComPort1->Port(), "COM1");
        EXPECT_EQ(form->ComPort1->BaudRate(), br115200);
    }
}

TEST_F(WindowTest, GeometryFollowsTheDesignAtBothDensitiesAndTheHeightRule) {
    form_.reset();
    const struct {
        const char* name;
        QRect design;
        int grows;  // 1: grows with the height, 2: moves down with it, 0: stays
    } rows[] = {
        {"GroupBoxInterface", {8, 8, 201, 129}, 0},
        {"btnComConnect", {80, 91, 97, 24}, 0},
        {"labelXwDisplay", {305, 24, 137, 28}, 0},
        {"GroupBoxMonitor", {720, 8, 457, 337}, 1},
        {"RichEdit1", {8, 18, 441, 281}, 1},
        {"labelStatus2", {11, 305, 73, 24}, 2},
        {"btnterminalClear", {343, 304, 105, 26}, 2},
        {"GroupBoxManualProcessing", {720, 352, 458, 271}, 2},
        {"btnSetZero", {307, 116, 142, 32}, 0},
        {"editFeed", {368, 77, 81, 29}, 0},
        {"GroupBoxGCode", {8, 144, 697, 479}, 1},
        {"JvStringGrid1", {8, 56, 678, 369}, 1},
        {"btnStop1", {542, 16, 145, 34}, 0},
    };
    for (const double scale : {0.8, 1.0}) {
        std::unique_ptr<TForm1> form = CreateForm1(scale);
        ShowCentred(*form);
        auto s = [&](int v) { return qRound(v * scale); };
        QWidget* client = form->LMDSimplePanel1;
        EXPECT_EQ(client->size(), QSize(s(1188), s(638))) << scale;
        EXPECT_EQ(form->minimumWidth(), form->maximumWidth());

        for (const int height : {5000, 10}) {
            form->resize(form->width() + 300, height);  // the width does not follow
            const int grown = height == 10 ? 0 : s(1038) - s(638);
            ASSERT_TRUE(ServeQtUntil([&] { return client->height() == s(638) + grown; }))
                << scale << " " << client->height();
            EXPECT_EQ(client->width(), s(1188));
            for (const auto& r : rows) {
                QRect want(s(r.design.x()), s(r.design.y()), s(r.design.width()), s(r.design.height()));
                if (r.grows == 1) want.setHeight(want.height() + grown);
                if (r.grows == 2) want.translate(0, grown);
                EXPECT_EQ(form->findChild<QWidget*>(r.name)->geometry(), want)
                    << r.name << " at scale " << scale << ", height " << height;
            }
        }
    }
}

TEST_F(WindowTest, MenuEntriesAreThereAndDoNothing) {
    QStandardPaths::setTestModeEnabled(true);  // the toolpath window remembers its place
    QMenuBar* bar = form_->AdvMainMenu1;
    // The described four, then "Ansicht" with the toolpath window.
    const QStringList tops = {"Datei", "Edit", "Einstellungen", "Hilfe", "Ansicht"};
    QStringList seen;
    for (QAction* a : bar->actions()) seen << a->text();
    EXPECT_EQ(seen, tops);
    EXPECT_EQ(bar->font().family(), QStringLiteral("Tahoma"));
    const QStringList datei = {"Neu", "Öffnen", "Speichern unter", "Beenden"};
    const QStringList edit = {"Kopieren", "Ausschneiden", "Einfügen", "Alles markieren"};
    QStringList items;
    for (QAction* a : bar->actions()[0]->menu()->actions()) items << a->text();
    EXPECT_EQ(items, datei);
    items.clear();
    for (QAction* a : bar->actions()[1]->menu()->actions()) items << a->text();
    EXPECT_EQ(items, edit);
    for (QAction* a : form_->findChildren<QAction*>()) a->trigger();
    EXPECT_TRUE(form_->isVisible());  // "Beenden" included
    // "Werkzeugweg" opens the toolpath window, a window of its own beside the form.
    EXPECT_TRUE(form_->Toolpath()->isVisible());
    EXPECT_TRUE(form_->Toolpath()->isWindow());
    form_->Toolpath()->close();
}

TEST_F(WindowTest, ControlsInDisabledPanelsTakeNoInput) {
    int clicks = 0;
    for (QGroupBox* box : {form_->GroupBoxMonitor, form_->GroupBoxManualProcessing}) {
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
            QObject::connect(b, &QAbstractButton::clicked, [&] { ++clicks; });
            QTest::mouseClick(b, Qt::LeftButton);
        }
    }
    QTest::keyClicks(form_->EditManualInput, "G0 X1");
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(form_->EditManualInput->text(), QString());
}

TEST_F(WindowTest, AFailedOpenWarnsOnceAndLeavesEverythingDisconnected) {
    form_->ComPort1->SetPort("/nonexistent/ttyTarnwick");
    QStringList seen;
    auto answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen << box->windowTitle() << box->text()
             << QString::number(box->buttons().size()) << box->buttons()[0]->text()
             << QString::number(box->icon());
        box->button(QMessageBox::Ok)->click();
    };
    QTimer::singleShot(0, answer);
    form_->btnComConnect->click();
    EXPECT_EQ(seen, (QStringList{"Warnung", " Serial Connection Error ", "1", "OK",
                                 QString::number(QMessageBox::Warning)}));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(form_->ComPort1->Connected());
    EXPECT_EQ(form_->btnComConnect->text(), QStringLiteral("Connect"));
    EXPECT_FALSE(form_->GroupBoxMonitor->isEnabled());
    EXPECT_FALSE(form_->GroupBoxManualProcessing->isEnabled());
    EXPECT_FALSE(form_->Timer1->isActive());
}

TEST_F(WindowTest, AnErrorAHandlerLetsGoIsReportedAndTheWindowGoesOn) {
    // A soft reset without a link: the write fails inside the handler.
    emit form_->btnSoftReset->clicked();
    const auto errors = TakeReportedErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Not Open"), std::string::npos) << errors[0];
    EXPECT_TRUE(form_->isVisible());
    form_->btnterminalClearClick(nullptr);
    EXPECT_EQ(form_->RichEdit1->toPlainText(), QString());
}

}  // namespace
