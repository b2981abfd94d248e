// The port property selector control, offscreen.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QProxyStyle>
#include <QStyleOptionComboBox>
#include <filesystem>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "CPortCtl.h"
#include "FakeDevice.h"
#include "FakeTtyClass.h"
#include "QtTestSupport.h"

namespace {

using namespace controlstest;
using Texts = std::vector<std::string>;

// What the framework does when the operator picks an entry from the drop-down list.
void Pick(QComboBox& box, int index) {
    box.setCurrentIndex(index);
    emit box.activated(index);
}

class ComComboBoxTest : public QtTest {
protected:
    void SetUp() override {
        for (const char* name : {"COM1", "COM10", "COM2", "COM13"}) tree_.AddPort(name);
        SetTtyClassDir(tree_.Dir());
        SetSimulatorPortDir(tree_.SimulatorDir());
    }
    void TearDown() override {
        SetTtyClassDir("");
        SetSimulatorPortDir("");
        QtTest::TearDown();
    }

    FakeTtyClass tree_;
    TComPort port_;
};

TEST_F(ComComboBoxTest, StartsAsAnEmptyDropDownList) {
    TComComboBox box;
    EXPECT_FALSE(box.isEditable());
    EXPECT_EQ(box.ComProperty(), cpNone);
    EXPECT_EQ(box.ComPort(), nullptr);
    EXPECT_FALSE(box.AutoApply());
    EXPECT_EQ(box.Items().Count(), 0);
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(box.Text(), "");
}

TEST_F(ComComboBoxTest, AKindFillsTheListAndSelectsTheFirstEntryWhenUnbound) {
    TComComboBox box;
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.Items().ToVector(), (Texts{"COM1", "COM10", "COM13", "COM2"}));
    EXPECT_EQ(box.ItemIndex(), 0);
    EXPECT_EQ(box.Text(), "COM1");

    box.SetComProperty(cpStopBits);
    EXPECT_EQ(box.Items().ToVector(), (Texts{"1", "1.5", "2"}));
    EXPECT_EQ(box.Text(), "1");

    box.SetComProperty(cpNone);
    EXPECT_EQ(box.Items().Count(), 0);
    EXPECT_EQ(box.ItemIndex(), -1);
}

TEST_F(ComComboBoxTest, NoPortsMeansAnEmptyListAndNoText) {
    SetTtyClassDir("/nonexistent/class/tty");
    TComComboBox box;
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.Items().Count(), 0);
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(box.Text(), "");
}

TEST_F(ComComboBoxTest, BindingShowsThePortsCurrentValue) {
    port_.SetBaudRate(br115200);
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    box.SetComPort(&port_);
    EXPECT_EQ(box.ItemIndex(), 13);
    EXPECT_EQ(box.Text(), "115200");

    // With a port bound, a new kind selects the port's value of that setting.
    port_.SetDataBits(dbSeven);
    box.SetComProperty(cpDataBits);
    EXPECT_EQ(box.Text(), "7");

    // A value the list lacks leaves no selection.
    port_.SetPort("ttyUSB9");
    box.SetComProperty(cpPort);
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(box.Text(), "");
}

TEST_F(ComComboBoxTest, UnbindingKeepsListAndSelection) {
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    box.SetComPort(&port_);
    EXPECT_EQ(box.Text(), "9600");
    box.SetComPort(nullptr);
    EXPECT_EQ(box.ComPort(), nullptr);
    EXPECT_EQ(box.Items().Count(), 16);
    EXPECT_EQ(box.Text(), "9600");
}

TEST_F(ComComboBoxTest, APickIsAppliedBeforeOnChangeFires) {
    port_.SetBaudRate(br115200);
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    box.SetAutoApply(true);
    box.SetComPort(&port_);
    std::vector<TBaudRate> seen;
    TObject* sender = nullptr;
    box.OnChange = [&](TObject* s) {
        sender = s;
        seen.push_back(port_.BaudRate());
    };
    Pick(box, 0);  // "Custom": the port then runs at its CustomBaudRate
    EXPECT_EQ(port_.BaudRate(), brCustom);
    EXPECT_EQ(seen, (std::vector<TBaudRate>{brCustom}));
    EXPECT_EQ(sender, static_cast<TObject*>(&box));
}

TEST_F(ComComboBoxTest, TheOperatorsKeyPressIsAPick) {
    TComComboBox box;
    box.SetComProperty(cpParity);
    box.SetAutoApply(true);
    box.SetComPort(&port_);
    ASSERT_EQ(box.Text(), "None");
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &down);
    EXPECT_EQ(box.Text(), "Odd");
    EXPECT_EQ(port_.Parity().Bits(), prOdd);
}

TEST_F(ComComboBoxTest, WithoutAutoApplyAPickChangesOnlyTheSelector) {
    port_.SetBaudRate(br115200);
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    box.SetComPort(&port_);
    int changes = 0;
    box.OnChange = [&](TObject*) { ++changes; };
    Pick(box, 7);
    EXPECT_EQ(box.Select().ChosenBaudRate(), br9600);
    EXPECT_EQ(port_.BaudRate(), br115200);
    EXPECT_EQ(changes, 1);
    // Nothing applies it later.
    box.SetAutoApply(true);
    EXPECT_EQ(port_.BaudRate(), br115200);
}

TEST_F(ComComboBoxTest, WritingTextSelectsWithoutTakingOrApplying) {
    port_.SetPort("COM2");
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetAutoApply(true);
    box.SetComPort(&port_);
    ASSERT_EQ(box.Text(), "COM2");
    int changes = 0;
    box.OnChange = [&](TObject*) { ++changes; };

    box.SetText("com10");
    EXPECT_EQ(box.Text(), "COM10");
    EXPECT_EQ(port_.Port(), "COM2");
    EXPECT_EQ(box.Select().ChosenPort(), "COM2");
    EXPECT_EQ(changes, 0);

    box.SetText("COM99");  // no such entry: the selection stays
    EXPECT_EQ(box.Text(), "COM10");
}

TEST_F(ComComboBoxTest, WhileLoadingTheIndexIsRecordedAndShownAtTheEnd) {
    port_.SetPort("COM1");
    port_.SetBaudRate(br115200);
    TComponent form;
    auto* ports = new TComComboBox(&form);
    auto* bauds = new TComComboBox(&form);
    form.BeginLoading();
    // The design description's order: kind, auto apply, text, item index; the port
    // reference comes after every component exists.
    ports->SetComProperty(cpPort);
    ports->SetAutoApply(true);
    ports->SetText("COM13");
    ports->SetItemIndex(0);
    bauds->SetComProperty(cpBaudRate);
    bauds->SetAutoApply(true);
    bauds->SetText("9600");
    bauds->SetItemIndex(0);
    EXPECT_EQ(ports->ItemIndex(), -1);  // recorded, not shown
    EXPECT_EQ(bauds->ItemIndex(), -1);
    ports->SetComPort(&port_);
    bauds->SetComPort(&port_);
    EXPECT_EQ(ports->ItemIndex(), -1);
    form.Loaded();
    for (int i = 0; i < form.ComponentCount(); ++i) form.Components(i)->Loaded();
    EXPECT_EQ(ports->Text(), "COM1");
    EXPECT_EQ(bauds->Text(), "115200");
    // Nothing was applied on the way.
    EXPECT_EQ(port_.Port(), "COM1");
    EXPECT_EQ(port_.BaudRate(), br115200);
}

TEST_F(ComComboBoxTest, LoadingAgainstAPortTheListLacksEndsWithoutSelection) {
    SetTtyClassDir("");
    FakeTtyClass other;
    other.AddPort("COM3");
    other.AddPort("COM7");
    SetTtyClassDir(other.Dir());
    port_.SetPort("COM1");
    TComComboBox box;
    box.BeginLoading();
    box.SetComProperty(cpPort);
    box.SetText("COM7");
    box.SetItemIndex(0);
    box.SetComPort(&port_);
    box.Loaded();
    EXPECT_EQ(box.Items().ToVector(), (Texts{"COM3", "COM7"}));
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(port_.Port(), "COM1");
}

TEST_F(ComComboBoxTest, AFailedApplyGoesToTheErrorReportAndSkipsOnChange) {
    auto dev = std::make_unique<device::FakeDevice>();
    device::FakeDevice* fake = dev.get();
    port_.SetDevice(std::move(dev));
    port_.SetEvents({});
    port_.SetPort("COM1");
    port_.SetConnected(true);
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetAutoApply(true);
    box.SetComPort(&port_);
    int changes = 0;
    box.OnChange = [&](TObject*) { ++changes; };

    fake->FailOnce(device::FakeDevice::Call::Open, ENOENT);
    Pick(box, 1);  // COM10: the port closes and fails to open it
    EXPECT_EQ(TakeReportedErrors(),
              (Texts{"Unable to open com port (Error: " + std::to_string(ENOENT) + ")"}));
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(port_.Port(), "COM10");
    EXPECT_FALSE(port_.Connected());
}

TEST_F(ComComboBoxTest, ThePortsDestructionUnbindsAndSelectsTheFirstEntry) {
    auto port = std::make_unique<TComPort>();
    port->SetBaudRate(br115200);
    TComComboBox box;
    box.SetComProperty(cpBaudRate);
    box.SetAutoApply(true);
    box.SetComPort(port.get());
    ASSERT_EQ(box.ItemIndex(), 13);
    port.reset();
    EXPECT_EQ(box.ComPort(), nullptr);
    EXPECT_EQ(box.ItemIndex(), 0);
    // Picks are still taken, and applied nowhere.
    Pick(box, 3);
    EXPECT_EQ(box.Select().ChosenBaudRate(), br600);
}

// Whichever side deletes the control, it leaves its port and its owners without a dangling
// reference; the port, destroyed afterwards, must not notify it (the sanitizer build checks).
TEST_F(ComComboBoxTest, EitherOwnerMayDeleteIt) {
    {
        // The component owner first: the Qt parent loses its child.
        auto port = std::make_unique<TComPort>();
        auto* form = new TComponent;
        QWidget parent;
        auto* box = new TComComboBox(form, &parent);
        box->SetComProperty(cpBaudRate);
        box->SetComPort(port.get());
        EXPECT_EQ(parent.findChildren<QComboBox*>().size(), 1);
        delete form;
        EXPECT_TRUE(parent.findChildren<QComboBox*>().isEmpty());
        port.reset();
    }
    {
        // The Qt parent first: the component owner loses its component.
        auto port = std::make_unique<TComPort>();
        TComponent form;
        auto* parent = new QWidget;
        auto* box = new TComComboBox(&form, parent);
        box->SetComProperty(cpBaudRate);
        box->SetComPort(port.get());
        EXPECT_EQ(form.ComponentCount(), 1);
        delete parent;
        EXPECT_EQ(form.ComponentCount(), 0);
        port.reset();
    }
}

// Each drop-down reads the list again: a plugged-in adapter appears, an unplugged one goes,
// the entry shown stays selected, and the port hears nothing of it.
TEST_F(ComComboBoxTest, DroppingDownFollowsPlugAndUnplugWithoutTouchingThePort) {
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetAutoApply(true);
    port_.SetPort("COM2");
    box.SetComPort(&port_);
    ASSERT_EQ(box.Text(), "COM2");
    int changes = 0;
    box.OnChange = [&](TObject*) { ++changes; };

    tree_.AddPort("ttyUSB0");
    tree_.Remove("COM10");
    box.showPopup();
    box.hidePopup();
    EXPECT_EQ(box.Items().ToVector(), (Texts{"COM1", "COM13", "COM2", "ttyUSB0"}));
    EXPECT_EQ(box.Text(), "COM2");

    // The entry shown is unplugged: nothing is selected, and still nothing is applied.
    tree_.Remove("COM2");
    box.showPopup();
    box.hidePopup();
    EXPECT_EQ(box.Items().ToVector(), (Texts{"COM1", "COM13", "ttyUSB0"}));
    EXPECT_EQ(box.ItemIndex(), -1);
    EXPECT_EQ(port_.Port(), "COM2");
    EXPECT_EQ(changes, 0);

    // Other settings have fixed lists and keep them.
    TComComboBox rates;
    rates.SetComProperty(cpBaudRate);
    const Texts before = rates.Items().ToVector();
    rates.showPopup();
    rates.hidePopup();
    EXPECT_EQ(rates.Items().ToVector(), before);
}

// Records the text the style is asked to draw as a combo box's label.
class LabelRecorder : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_ComboBoxLabel)
            if (const auto* box = qstyleoption_cast<const QStyleOptionComboBox*>(option)) label = box->currentText;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable QString label;
};

// A long port name shows short in the box, whole in the list and the tooltips; the text and
// the port keep the whole name.
TEST_F(ComComboBoxTest, ALongPortNameShowsShortInTheBoxAndWholeInTheList) {
    // A bridge's terminal, announced in the runtime directory.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const std::string announced = tree_.SimulatorDir() + "/bridge";
    std::filesystem::create_symlink(ptsname(master), announced);
    TComComboBox box;
    LabelRecorder* style = new LabelRecorder;  // owned by the box once set
    style->setParent(&box);
    box.setStyle(style);
    box.resize(97, 24);
    box.SetComProperty(cpPort);
    box.SetAutoApply(true);
    box.SetComPort(&port_);
    const int at = box.Items().IndexOfText(announced);
    ASSERT_GE(at, 0) << testing::PrintToString(box.Items().ToVector());

    const struct {
        std::string entry;
        QString shown;
        QString tip;
    } cases[] = {
        {announced, "bridge", QString::fromStdString(announced)},
        {"COM10", "COM10", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        Pick(box, box.Items().IndexOfText(c.entry));
        EXPECT_EQ(box.Text(), c.entry);
        EXPECT_EQ(port_.Port(), c.entry);
        (void)box.grab();
        EXPECT_EQ(style->label, c.shown);
        EXPECT_EQ(box.toolTip(), c.tip);
        EXPECT_EQ(box.itemData(box.currentIndex(), Qt::ToolTipRole).toString(), c.tip);
    }
    box.showPopup();
    EXPECT_GE(box.view()->width(), box.view()->fontMetrics().horizontalAdvance(QString::fromStdString(announced)));
    box.hidePopup();
    close(master);
}

}  // namespace
